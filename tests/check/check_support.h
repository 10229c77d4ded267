// What the check tests share: a database made by init from the shipped schema,
// helpers that plant objects in it, and the expected text of the stage lines.
#pragma once

#include <stdio.h>

#include <map>
#include <string>

#include "tests/support/harness.h"
#include "tests/support/output.h"

namespace checktest {

// The stage labels, in the order the stages run.
const char *const kStageLabels[6] = {
   "Checking node objects...",          "Checking interface objects...",  "Checking network service objects...",
   "Checking cluster objects...",       "Checking object properties...",  "Checking event processing policy...",
};

enum Stage
{
   NODES = 0,
   INTERFACES = 1,
   SERVICES = 2,
   CLUSTERS = 3,
   TIMESTAMPS = 4,
   POLICY = 5
};

// "*", a blank and the label padded to 68 characters: the stage line before its result.
inline std::string StageLine(int stage)
{
   char line[128];
   snprintf(line, sizeof(line), "* %-68s", kStageLabels[stage]);
   return line;
}

// What a stage prints after its stage line (questions with their answers,
// repair and failure output), and its result. A stage with problems prints its
// stage line again before a "FIXED " or "ERROR " result; a "PASSED" one does not.
struct StageText
{
   std::string body;
   std::string result;   // "PASSED", "FIXED " or "ERROR "
};

// The whole output of the six stages: a stage missing from |problems| passed.
inline std::string StagesOutput(const std::map<int, StageText> &problems = {})
{
   std::string out;
   for (int stage = 0; stage < 6; stage++)
   {
      auto it = problems.find(stage);
      if (it == problems.end())
         out += StageLine(stage) + "[PASSED]\n";
      else if (it->second.result == "PASSED")
         out += StageLine(stage) + it->second.body + "[PASSED]\n";
      else
         out += StageLine(stage) + it->second.body + StageLine(stage) + "[" + it->second.result + "]\n";
   }
   return out;
}

const char kHead[] = "Checking database:\n";
const char kClean[] = "Database doesn't contain any errors\nDatabase check completed\n";

// The summary after problems were found: counts, verdict, and the commit
// question when something was repaired (|commit| is the answer).
inline std::string Summary(int found, int fixed, bool commit)
{
   std::string out = std::to_string(found) + " errors was found, " + std::to_string(fixed) + " errors was corrected\n";
   out += found == fixed ? "All errors in database was fixed\n" : "Database still contain errors\n";
   if (fixed > 0)
   {
      out += "Commit changes (Y/N) ";
      out += commit ? "Y\nCommitting changes...\nChanges was successfully committed to database\n"
                    : "N\nRolling back changes...\nAll changes made to database was cancelled\n";
   }
   return out + "Database check completed\n";
}

// Runs a statement that plants test data; fails the test when it fails.
inline void Plant(TestDatabase &db, const std::string &statement)
{
   std::string error;
   ASSERT_TRUE(db.Exec(statement, &error)) << statement << ": " << error;
}

// A properties row as the server writes it (last_modified valid unless given).
inline void AddProperties(TestDatabase &db, int id, const std::string &name, int deleted = 0,
                          long lastModified = 1700000000)
{
   Plant(db, "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
             "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
             "status_single_threshold,status_thresholds,comments,is_system) VALUES (" +
                std::to_string(id) + ",'" + name + "',0," + std::to_string(deleted) + ",0,1," +
                std::to_string(lastModified) + ",0,0,0,0,0,0,'00000000','#00',0)");
}

// A node row; |subnet| > 0 also puts it into that subnet.
inline void AddNode(TestDatabase &db, int id, const std::string &ip, int subnet = 0)
{
   Plant(db, "INSERT INTO nodes (id,primary_ip,snmp_version,community,snmp_oid,auth_method,secret,agent_port,node_type)"
             " VALUES (" + std::to_string(id) + ",'" + ip + "',1,'public','',0,'',4700,0)");
   if (subnet > 0)
      Plant(db, "INSERT INTO nsmap (subnet_id,node_id) VALUES (" + std::to_string(subnet) + "," + std::to_string(id) +
                   ")");
}

// An interface or a network service of node |nodeId|, without properties.
inline void AddInterface(TestDatabase &db, int id, int nodeId)
{
   Plant(db, "INSERT INTO interfaces (id,node_id,ip_addr,ip_netmask,if_type,if_index,mac_addr) VALUES (" +
                std::to_string(id) + "," + std::to_string(nodeId) + ",'0.0.0.0','0.0.0.0',6,1,'000000000000')");
}
inline void AddService(TestDatabase &db, int id, int nodeId)
{
   Plant(db, "INSERT INTO network_services (id,node_id,poller_node_id,check_request,check_responce) VALUES (" +
                std::to_string(id) + "," + std::to_string(nodeId) + ",0,'#00','#00')");
}

// An action that policy rules may name.
inline void AddAction(TestDatabase &db, int id)
{
   Plant(db, "INSERT INTO actions (action_id,action_name,action_type,is_disabled,action_data) VALUES (" +
                std::to_string(id) + ",'action " + std::to_string(id) + "',0,0,'#00')");
}

// A healthy node: properties, an address and a subnet.
inline void AddHealthyNode(TestDatabase &db, int id, const std::string &name)
{
   AddNode(db, id, "10.0.0." + std::to_string(id % 250 + 1), 1);
   AddProperties(db, id, name);
}

// Base fixture: a fresh format-83 database made by init (objects 1 to 3 are
// its root objects; the tests plant theirs from 9 up).
class CheckTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().InitSchema();
   }
   // "kvdbmgr -c <config> [flags] check" with |input| as the keys.
   ToolRun Check(const std::string &input = "", const std::vector<std::string> &flags = {})
   {
      std::vector<std::string> args = flags;
      args.push_back("check");
      return db().Run(args, input);
   }
   std::string Count(const std::string &table, const std::string &where = "")
   {
      return db().Value("SELECT COUNT(*) FROM " + table + (where.empty() ? "" : " WHERE " + where));
   }
};

// Removes what -t adds to the output: each ">>> " statement echo with its line break.
inline std::string WithoutTrace(std::string out)
{
   for (size_t at = out.find(">>> "); at != std::string::npos; at = out.find(">>> ", at))
   {
      size_t end = out.find('\n', at);
      out.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
   }
   return out;
}

}  // namespace checktest
