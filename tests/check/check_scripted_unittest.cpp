// The check command against the scripted driver: failures no engine can be
// made to show on demand (a failed existence select, a failed commit) and the
// order of the transaction calls.
#include <string>
#include <vector>

#include "tests/check/check_support.h"
#include "tests/support/scripted.h"

namespace checktest {
namespace {

// A select that fails does not prove that a row is missing: the failure is
// reported, and nothing is offered for repair on its ground. The per-object
// selects run under -t; without it each stage reads its tables once.
TEST(CheckScriptedTest, FailedSelectIsReportedAndNothingIsOffered)
{
   struct Case
   {
      const char *what;
      std::string rules;
      int stage;
      std::string failedQuery;
      bool perObject = true;
   } cases[] = {
      {"node of a cluster member",
       "select SELECT cluster_id,node_id FROM cluster_members => 30|77\n"
       "fail SELECT id FROM nodes WHERE id=77 => connection lost\n",
       CLUSTERS, "SELECT id FROM nodes WHERE id=77"},
      {"policy source object",
       "select SELECT object_id FROM policy_source_list => 40\n"
       "fail SELECT object_id FROM object_properties WHERE object_id=40 => connection lost\n",
       POLICY, "SELECT object_id FROM object_properties WHERE object_id=40"},
      {"policy event group",
       "select SELECT event_code FROM policy_event_list => -2147483648\n"
       "fail SELECT id FROM event_groups WHERE id=-2147483648 => connection lost\n",
       POLICY, "SELECT id FROM event_groups WHERE id=-2147483648"},
      {"policy event",
       "select SELECT event_code FROM policy_event_list => 26\n"
       "fail SELECT event_code FROM event_cfg WHERE event_code=26 => connection lost\n",
       POLICY, "SELECT event_code FROM event_cfg WHERE event_code=26"},
      {"policy action",
       "select SELECT action_id FROM policy_action_list => 7\n"
       "fail SELECT action_id FROM actions WHERE action_id=7 => connection lost\n",
       POLICY, "SELECT action_id FROM actions WHERE action_id=7"},
      {"subnets of a node with an address",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "select SELECT name,is_deleted FROM object_properties WHERE object_id=9 => n9|0\n"
       "fail SELECT subnet_id FROM nsmap WHERE node_id=9 => connection lost\n",
       NODES, "SELECT subnet_id FROM nsmap WHERE node_id=9"},
      {"properties of a node (deleted or not is unknown)",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "fail SELECT name,is_deleted FROM object_properties WHERE object_id=9 => connection lost\n",
       NODES, "SELECT name,is_deleted FROM object_properties WHERE object_id=9"},
      {"parent of an interface",
       "select SELECT id,node_id FROM interfaces => 11|9\n"
       "select SELECT name,is_deleted FROM object_properties WHERE object_id=11 => eth0|0\n"
       "fail SELECT name FROM object_properties WHERE object_id=9 AND is_deleted=0 => connection lost\n",
       INTERFACES, "SELECT name FROM object_properties WHERE object_id=9 AND is_deleted=0"},
      {"list of a stage",
       "fail SELECT id,node_id FROM network_services => connection lost\n",
       SERVICES, "SELECT id,node_id FROM network_services"},
      {"list of a stage, read once",
       "fail SELECT id,node_id FROM network_services => connection lost\n",
       SERVICES, "SELECT id,node_id FROM network_services", false},
      // The tables read once: an object without a properties row and outside
      // every subnet, an interface without a live parent, a cluster member of
      // no node and policy rows naming nothing would all be problems.
      {"properties read once, for nodes",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "fail SELECT object_id,is_deleted FROM object_properties => connection lost\n",
       NODES, "SELECT object_id,is_deleted FROM object_properties", false},
      {"subnets read once",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "select SELECT object_id,is_deleted FROM object_properties => 9|0\n"
       "fail SELECT node_id FROM nsmap => connection lost\n",
       NODES, "SELECT node_id FROM nsmap", false},
      {"properties read once, for interfaces",
       "select SELECT id,node_id FROM interfaces => 11|9\n"
       "fail SELECT object_id,is_deleted FROM object_properties => connection lost\n",
       INTERFACES, "SELECT object_id,is_deleted FROM object_properties", false},
      {"nodes read once",
       "select SELECT cluster_id,node_id FROM cluster_members => 30|77\n"
       "fail SELECT id FROM nodes => connection lost\n",
       CLUSTERS, "SELECT id FROM nodes", false},
      {"properties read once, for policy sources",
       "select SELECT object_id FROM policy_source_list => 40\n"
       "fail SELECT object_id,is_deleted FROM object_properties => connection lost\n",
       POLICY, "SELECT object_id,is_deleted FROM object_properties", false},
      {"events read once",
       "select SELECT event_code FROM policy_event_list => 26\n"
       "fail SELECT event_code FROM event_cfg => connection lost\n",
       POLICY, "SELECT event_code FROM event_cfg", false},
      {"event groups read once",
       "select SELECT event_code FROM policy_event_list => -2147483648\n"
       "fail SELECT id FROM event_groups => connection lost\n",
       POLICY, "SELECT id FROM event_groups", false},
      {"actions read once",
       "select SELECT action_id FROM policy_action_list => 7\n"
       "fail SELECT action_id FROM actions => connection lost\n",
       POLICY, "SELECT action_id FROM actions", false},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      ScriptedDatabase db("SQLITE", VersionRule(83) + c.rules);
      ToolRun run = db.Run(c.perObject ? std::vector<std::string>{"-t", "check"} : std::vector<std::string>{"check"},
                           "YYYY");
      EXPECT_EQ(kBanner + kHead +
                   StagesOutput({{c.stage, {"SQL query failed:\n" + c.failedQuery + "\n", "PASSED"}}}) + kClean,
                WithoutTrace(run.out));
      EXPECT_TRUE(db.Statements().empty()) << db.Statements()[0];
      // The check could not look at everything, so it does not report success.
      EXPECT_EQ(7, run.exitCode);
   }
}

// A delete that fails leaves its problem unrepaired; what else runs depends on the class.
TEST(CheckScriptedTest, FailedDeletes)
{
   struct Case
   {
      const char *what;
      std::string rules;
      int stage;
      std::string question;
      std::string failed;
      std::vector<std::string> statements;
   } cases[] = {
      {"node: the acl delete is skipped, the properties delete still runs",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "select SELECT name,is_deleted FROM object_properties WHERE object_id=9 => n9|0\n"
       "fail DELETE FROM nodes => locked\n",
       NODES, "\rUnlinked node object 9 (\"n9\"). Delete? (Y/N) Y\n", "DELETE FROM nodes WHERE id=9",
       {"DELETE FROM nodes WHERE id=9", "DELETE FROM object_properties WHERE object_id=9"}},
      {"node: a failed properties delete also leaves it unrepaired",
       "select SELECT id,primary_ip FROM nodes => 9|10.0.0.9\n"
       "select SELECT name,is_deleted FROM object_properties WHERE object_id=9 => n9|0\n"
       "fail DELETE FROM object_properties => locked\n",
       NODES, "\rUnlinked node object 9 (\"n9\"). Delete? (Y/N) Y\n",
       "DELETE FROM object_properties WHERE object_id=9",
       {"DELETE FROM nodes WHERE id=9", "DELETE FROM acl WHERE object_id=9",
        "DELETE FROM object_properties WHERE object_id=9"}},
      {"interface: nothing more is deleted",
       "select SELECT id,node_id FROM interfaces => 11|9\n"
       "select SELECT name,is_deleted FROM object_properties WHERE object_id=11 => eth0|0\n"
       "fail DELETE FROM interfaces => locked\n",
       INTERFACES, "\rUnlinked interface object 11 (\"eth0\"). Delete? (Y/N) Y\n",
       "DELETE FROM interfaces WHERE id=11", {"DELETE FROM interfaces WHERE id=11"}},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      ScriptedDatabase db("SQLITE", VersionRule(83) + c.rules);
      ToolRun run = db.Run({"-t", "check"}, "Y");
      EXPECT_EQ(kBanner + kHead +
                   StagesOutput({{c.stage, {c.question + "SQL query failed (locked):\n" + c.failed + "\n", "ERROR "}}}) +
                   "1 errors was found, 0 errors was corrected\nDatabase still contain errors\nDatabase check completed\n",
                WithoutTrace(run.out));
      EXPECT_EQ(c.statements, db.Statements());
      EXPECT_EQ("rollback", db.Calls().back());
      EXPECT_EQ(7, run.exitCode);
   }
}

TEST(CheckScriptedTest, RepairsRunInsideOneTransaction)
{
   ScriptedDatabase db("SQLITE", VersionRule(83) + "select SELECT action_id FROM policy_action_list => 7\n");
   ToolRun run = db.Run({"check"}, "YY");
   EXPECT_EQ(0, run.exitCode) << run.out;
   std::vector<std::string> calls = db.Calls();
   std::vector<std::string> tail(calls.end() - 4, calls.end());
   EXPECT_EQ((std::vector<std::string>{"select SELECT action_id FROM policy_action_list",
                                       "select SELECT action_id FROM actions",
                                       "execute DELETE FROM policy_action_list WHERE action_id=7", "commit"}),
             tail);
   // Nothing but the version and lock reads comes before the transaction.
   size_t begin = 0;
   while (begin < calls.size() && calls[begin] != "begin")
      begin++;
   ASSERT_LT(begin, calls.size());
   for (size_t i = 0; i < begin; i++)
      EXPECT_EQ(0u, calls[i].find("select SELECT var_value FROM config")) << calls[i];
}

TEST(CheckScriptedTest, FailedCommitIsNotSuccess)
{
   ScriptedDatabase db("SQLITE", VersionRule(83) +
                                    "select SELECT action_id FROM policy_action_list => 7\n"
                                    "fail commit => serialization failure\n");
   ToolRun run = db.Run({"check"}, "YY");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{POLICY, {"\rInvalid action ID 7 used. Correct? (Y/N) Y\n", "FIXED "}}}) +
                "1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n"
                "Commit changes (Y/N) Y\nCommitting changes...\n"
                "SQL query failed (serialization failure):\nCOMMIT\nDatabase check completed\n",
             run.out);
   EXPECT_EQ(7, run.exitCode);
}

// Without a transaction the repairs could not be declined: the check stops
// before its first stage.
TEST(CheckScriptedTest, FailedBeginAbortsBeforeAnyStage)
{
   ScriptedDatabase db("SQLITE", VersionRule(83) + "fail begin => too many connections\n");
   ToolRun run = db.Run({"check"}, "YY");
   EXPECT_EQ(kBanner + kHead + "SQL query failed (too many connections):\nBEGIN\nDatabase check aborted\n", run.out);
   EXPECT_EQ(7, run.exitCode);
   std::vector<std::string> calls = db.Calls();
   ASSERT_FALSE(calls.empty());
   EXPECT_EQ("begin", calls.back());
}

}  // namespace
}  // namespace checktest
