// The check's two ways of looking (tables read once, and one select per object
// under -t) must not be told apart: on databases made inconsistent at random,
// both ask the same questions and leave the same database behind.
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/check/check_support.h"

namespace checktest {
namespace {

// Seeds per engine: the server engines cost a round trip per planted row.
int SeedCount(const std::string &engine)
{
   return engine == "sqlite" ? 300 : 30;
}

// Every table the check reads or repairs; each seed starts them empty.
const char *const kTables[] = {"nodes",           "interfaces",         "network_services",  "object_properties",
                               "nsmap",           "acl",                "cluster_members",   "policy_source_list",
                               "policy_event_list", "policy_action_list", "event_cfg",       "event_groups",
                               "actions"};

// What the check leaves behind, each table in a fixed order. Timestamps the
// check writes are the time of the run: they show only as "now".
const char *const kDumps[] = {
   "SELECT id,primary_ip FROM nodes ORDER BY id",
   "SELECT id,node_id FROM interfaces ORDER BY id",
   "SELECT id,node_id FROM network_services ORDER BY id",
   "SELECT object_id,name,is_deleted,CASE WHEN last_modified>1750000000 THEN -1 ELSE last_modified END "
   "FROM object_properties ORDER BY object_id",
   "SELECT subnet_id,node_id FROM nsmap ORDER BY subnet_id,node_id",
   "SELECT object_id,user_id FROM acl ORDER BY object_id,user_id",
   "SELECT cluster_id,node_id FROM cluster_members ORDER BY cluster_id,node_id",
   "SELECT rule_id,object_id FROM policy_source_list ORDER BY rule_id,object_id",
   "SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code",
   "SELECT rule_id,action_id FROM policy_action_list ORDER BY rule_id,action_id",
};

// A database made inconsistent in every way the check looks for, from |seed|:
// the statements that plant it. Object ids are drawn from a small range so
// that references hit objects of every kind, present, deleted or missing.
std::vector<std::string> Generate(unsigned seed)
{
   std::mt19937 random(seed);
   auto chance = [&](int percent) { return (int)(random() % 100) < percent; };
   auto pick = [&](int low, int high) { return low + (int)(random() % (unsigned)(high - low + 1)); };
   std::vector<std::string> out;
   std::set<int> used;
   auto freshId = [&]() {
      int id;
      do
         id = pick(10, 70);
      while (!used.insert(id).second);
      return id;
   };
   auto properties = [&](int id) {
      if (!chance(80))
         return;
      std::string name = chance(15) ? "O''Brien''s " + std::to_string(id) : "object " + std::to_string(id);
      if (chance(10))
         name = std::string(60, 'n') + std::to_string(id % 10);
      out.push_back("INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
                    "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
                    "status_single_threshold,status_thresholds,comments,is_system) VALUES (" +
                    std::to_string(id) + ",'" + name + "',0," + (chance(20) ? "1" : "0") + ",0,1," +
                    (chance(20) ? "0" : "1700000000") + ",0,0,0,0,0,0,'00000000','#00',0)");
   };

   std::vector<int> nodes;
   for (int n = pick(3, 12); n > 0; n--)
   {
      int id = freshId();
      nodes.push_back(id);
      out.push_back("INSERT INTO nodes (id,primary_ip,snmp_version,community,snmp_oid,auth_method,secret,agent_port,"
                    "node_type) VALUES (" + std::to_string(id) + ",'" + (chance(20) ? "0.0.0.0" : "10.0.0.7") +
                    "',1,'public','',0,'',4700,0)");
      properties(id);
      if (chance(60))
         out.push_back("INSERT INTO nsmap (subnet_id,node_id) VALUES (" + std::to_string(pick(1, 2)) + "," +
                       std::to_string(id) + ")");
      if (chance(50))
         out.push_back("INSERT INTO acl (object_id,user_id,access_rights) VALUES (" + std::to_string(id) + ",1,1)");
   }
   // A parent is mostly one of the nodes, else any id: another sub-object, a
   // cluster, or nothing at all.
   auto parent = [&]() { return chance(70) ? nodes[random() % nodes.size()] : pick(10, 70); };
   for (int n = pick(0, 12); n > 0; n--)
   {
      int id = freshId();
      out.push_back("INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask,if_type,if_index,mac_addr) VALUES (" +
                    std::to_string(id) + "," + std::to_string(parent()) + ",'0.0.0.0','0.0.0.0',6,1,'000000000000')");
      properties(id);
   }
   for (int n = pick(0, 6); n > 0; n--)
   {
      int id = freshId();
      out.push_back("INSERT INTO network_services (id,node_id,poller_node_id,check_request,check_responce) VALUES (" +
                    std::to_string(id) + "," + std::to_string(parent()) + ",0,'#00','#00')");
      properties(id);
   }
   // Other objects (clusters, containers) that have only properties rows.
   std::vector<int> others;
   for (int n = pick(0, 4); n > 0; n--)
   {
      others.push_back(freshId());
      properties(others.back());
   }
   std::set<std::pair<int, int>> members;
   for (int n = pick(0, 5); n > 0; n--)
   {
      int cluster = others.empty() || chance(20) ? pick(10, 70) : others[random() % others.size()];
      int node = chance(50) ? nodes[random() % nodes.size()] : pick(10, 70);
      if (members.insert({cluster, node}).second)
         out.push_back("INSERT INTO cluster_members (cluster_id,node_id) VALUES (" + std::to_string(cluster) + "," +
                       std::to_string(node) + ")");
   }

   // The policy: events 1 to 5, groups 0x80000001 to 0x80000003 and actions 1
   // to 5 exist or not; rules name them, some ids in several rules.
   for (int code = 1; code <= 5; code++)
      if (chance(60))
         out.push_back("INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (" +
                       std::to_string(code) + ",'E" + std::to_string(code) + "',0,1,'#00','#00')");
   for (int group = 1; group <= 3; group++)
      if (chance(50))
         out.push_back("INSERT INTO event_groups (id,name,description,range_start,range_end) VALUES (" +
                       std::to_string((int)(0x80000000u | (unsigned)group)) + ",'G','#00',0,0)");
   for (int action = 1; action <= 5; action++)
      if (chance(60))
         out.push_back("INSERT INTO actions (action_id,action_name,action_type,is_disabled,action_data) VALUES (" +
                       std::to_string(action) + ",'A',0,0,'#00')");
   for (int rule = 1; rule <= 4; rule++)
   {
      std::set<int> sources, events, actions;
      for (int n = pick(0, 3); n > 0; n--)
         sources.insert(pick(10, 70));
      for (int n = pick(0, 3); n > 0; n--)
         events.insert(chance(30) ? (int)(0x80000000u | (unsigned)pick(1, 3)) : pick(1, 5));
      for (int n = pick(0, 2); n > 0; n--)
         actions.insert(pick(1, 5));
      for (int id : sources)
         out.push_back("INSERT INTO policy_source_list (rule_id,object_id) VALUES (" + std::to_string(rule) + "," +
                       std::to_string(id) + ")");
      for (int code : events)
         out.push_back("INSERT INTO policy_event_list (rule_id,event_code) VALUES (" + std::to_string(rule) + "," +
                       std::to_string(code) + ")");
      for (int id : actions)
         out.push_back("INSERT INTO policy_action_list (rule_id,action_id) VALUES (" + std::to_string(rule) + "," +
                       std::to_string(id) + ")");
   }
   return out;
}

// The answers of a run: all no, all yes, or a pattern drawn from the seed; the
// commit question takes its answer from the same stream.
std::string Answers(unsigned seed)
{
   switch (seed % 3)
   {
      case 0:
         return std::string(400, 'N');
      case 1:
         return std::string(400, 'Y');
      default:
      {
         std::mt19937 random(seed * 7919u);
         std::string answers;
         for (int i = 0; i < 400; i++)
            answers += (random() % 2) ? 'Y' : 'N';
         return answers;
      }
   }
}

class CheckDifferentialTest : public CheckTest
{
protected:
   struct Outcome
   {
      std::string out;
      int exitCode;
      std::vector<Rows> tables;
   };

   // Plants the seed's database from empty tables, runs check with |flags| and
   // reads back what it left.
   Outcome Run(const std::vector<std::string> &planted, const std::string &answers,
               const std::vector<std::string> &flags)
   {
      // One transaction: a commit per row would cost the engine a sync each.
      Plant(db(), db().engine() == "mysql" ? "START TRANSACTION" : "BEGIN");
      // The stages read their lists in the engine's own order; PostgreSQL's
      // depends on where earlier rows lay (also through ODBC), so there the
      // tables start anew.
      for (const char *table : kTables)
         Plant(db(), std::string(db().syntax() == "PGSQL" ? "TRUNCATE TABLE " : "DELETE FROM ") + table);
      for (const std::string &statement : planted)
         Plant(db(), statement);
      Plant(db(), "COMMIT");
      ToolRun run = Check(answers, flags);
      Outcome outcome{WithoutTrace(run.out), run.exitCode, {}};
      for (const char *query : kDumps)
         outcome.tables.push_back(db().Query(query));
      return outcome;
   }
};

TEST_F(CheckDifferentialTest, ReadOnceAnswersAsSelectsPerObject)
{
   int problems = 0;
   for (unsigned seed = 1; seed <= (unsigned)SeedCount(db().engine()); seed++)
   {
      SCOPED_TRACE("seed " + std::to_string(seed));
      std::vector<std::string> planted = Generate(seed);
      std::string answers = Answers(seed);
      Outcome readOnce = Run(planted, answers, {});
      Outcome perObject = Run(planted, answers, {"-t"});
      ASSERT_EQ(perObject.out, readOnce.out);
      ASSERT_EQ(perObject.exitCode, readOnce.exitCode);
      for (size_t table = 0; table < perObject.tables.size(); table++)
         ASSERT_EQ(perObject.tables[table], readOnce.tables[table]) << kDumps[table];
      if (readOnce.out.find("(Y/N) ") != std::string::npos)
         problems++;
   }
   // The generator must make problems, or the comparison shows nothing.
   EXPECT_GT(problems, SeedCount(db().engine()) * 9 / 10);
}

}  // namespace
}  // namespace checktest
