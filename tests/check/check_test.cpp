// The check command end to end: the gates, the stage frame, the summary with
// its commit question, the one transaction, -f, -t, failed repairs, colours.
#include <string>

#include "tests/check/check_support.h"

namespace checktest {
namespace {

class CheckCommandTest : public CheckTest
{
};

TEST_F(CheckCommandTest, CleanDatabasePassesEveryStage)
{
   AddHealthyNode(db(), 101, "alpha");
   AddHealthyNode(db(), 102, "beta");
   AddInterface(db(), 103, 101);
   AddProperties(db(), 103, "eth0");
   AddService(db(), 104, 102);
   AddProperties(db(), 104, "http");
   AddProperties(db(), 105, "cluster");
   Plant(db(), "INSERT INTO cluster_members (cluster_id,node_id) VALUES (105,101)");
   Plant(db(), "INSERT INTO event_groups (id,name) VALUES (-2147483647,'group')");
   AddAction(db(), 7);
   Plant(db(), "INSERT INTO policy_source_list (rule_id,object_id) VALUES (1,102)");
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,26)");
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,-2147483647)");
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");

   ToolRun run = Check();
   EXPECT_EQ(kBanner + kHead + StagesOutput() + kClean, run.out);
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ("", run.err);

   // Each of the six stage lines puts the "[" of its result at column 70.
   int stageLines = 0;
   for (size_t at = run.out.find("\n* "); at != std::string::npos; at = run.out.find("\n* ", at + 1), stageLines++)
      EXPECT_EQ("[PASSED]\n", run.out.substr(at + 1 + 70, 9)) << run.out.substr(at + 1);
   EXPECT_EQ(6, stageLines);
}

TEST_F(CheckCommandTest, OnlyTheTargetFormatVersionIsChecked)
{
   struct Case
   {
      const char *version;   // nullptr: no DBFormatVersion row
      std::string message;
   } cases[] = {
      {"82", "Your database has format version 82, this tool is compiled for version 83.\n"
             "Use \"upgrade\" command to upgrade your database first.\n"},
      {nullptr, "Your database has format version 0, this tool is compiled for version 83.\n"
                "Use \"upgrade\" command to upgrade your database first.\n"},
      {"84", "Your database has format version 84, this tool is compiled for version 83.\n"
             "You need to upgrade your server before using this database.\n"},
   };
   // A problem that any stage would offer to repair: no stage may run.
   AddNode(db(), 9, "10.0.0.9");
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.version ? c.version : "no version row");
      if (c.version)
         db().SetConfig("DBFormatVersion", c.version);
      else
         db().DeleteConfig("DBFormatVersion");
      ToolRun run = Check("YYYY", {"-f"});
      EXPECT_EQ(kBanner + kHead + c.message + "Database check aborted\n", run.out);
      EXPECT_EQ(7, run.exitCode);
      EXPECT_EQ("0", Count("object_properties", "object_id=9"));
      EXPECT_EQ("1", Count("nodes"));
   }
}

TEST_F(CheckCommandTest, LockDeclinedAbortsAndKeepsTheLock)
{
   db().SetConfig("DBLockStatus", "srv1");
   db().SetConfig("DBLockInfo", "Korvel server at host1");
   ToolRun run = Check("N");
   EXPECT_EQ(kBanner + kHead +
                "Database is locked by server srv1 [Korvel server at host1]\n"
                "Do you wish to force database unlock? (Y/N) N\n"
                "Database check aborted\n",
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("srv1", db().Value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"));
}

TEST_F(CheckCommandTest, LockRemovedStaysRemovedAfterRollback)
{
   db().SetConfig("DBLockStatus", "srv1");
   db().SetConfig("DBLockInfo", "host1");
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
   // Unlock: yes; repair: yes; commit: no.
   ToolRun run = Check("YYN");
   EXPECT_EQ(kBanner + kHead +
                "Database is locked by server srv1 [host1]\nDo you wish to force database unlock? (Y/N) Y\n"
                "Database lock removed\n" +
                StagesOutput({{POLICY, {"\rInvalid action ID 7 used. Correct? (Y/N) Y\n", "FIXED "}}}) +
                Summary(1, 1, false),
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("UNLOCKED", db().Value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"));
   EXPECT_EQ("host1", db().Value("SELECT var_value FROM config WHERE var_name='DBLockInfo'"));
   EXPECT_EQ("1", Count("policy_action_list"));
}

TEST_F(CheckCommandTest, NothingRepairedMeansNoCommitQuestion)
{
   AddNode(db(), 9, "0.0.0.0");                 // no properties
   AddProperties(db(), 20, "stale", 0, 0);      // invalid timestamp
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
   const std::string expected =
      kBanner + kHead +
      StagesOutput({{NODES, {"\rMissing node object 9 properties. Create? (Y/N) N\n", "ERROR "}},
                    {TIMESTAMPS, {"\rObject 20 [stale] has invalid timestamp. Correct? (Y/N) N\n", "ERROR "}},
                    {POLICY, {"\rInvalid action ID 7 used. Correct? (Y/N) N\n", "ERROR "}}}) +
      Summary(3, 0, false);
   // Answered N, by end of input, and by input that counts as ended after
   // 4,096 characters that are no answer: the same, nothing read after that.
   for (const std::string &input : {std::string("NNN"), std::string(), std::string(4096, 'x') + "YYY"})
   {
      SCOPED_TRACE("input '" + input.substr(0, 20) + "'");
      ToolRun run = Check(input);
      EXPECT_EQ(expected, run.out);
      EXPECT_EQ(7, run.exitCode);
      EXPECT_EQ("1", Count("object_properties", "object_id>3"));
      EXPECT_EQ("0", db().Value("SELECT last_modified FROM object_properties WHERE object_id=20"));
      EXPECT_EQ("1", Count("policy_action_list"));
   }
}

// A stored name cannot rewrite the question line: control characters show as '?'.
TEST_F(CheckCommandTest, ControlCharactersInNamesAreShownAsQuestionMarks)
{
   AddProperties(db(), 20, "a\r\x1b[2KObject 1 [ok] is fine\x07", 0, 0);
   ToolRun run = Check("N");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{TIMESTAMPS,
                               {"\rObject 20 [a??[2KObject 1 [ok] is fine?] has invalid timestamp. Correct? (Y/N) N\n",
                                "ERROR "}}}) +
                Summary(1, 0, false),
             run.out);
}

TEST_F(CheckCommandTest, DeclinedCommitLeavesNothingBehind)
{
   AddNode(db(), 9, "10.0.0.9");   // no properties, no subnet: two problems
   AddProperties(db(), 20, "stale", 0, 0);
   // Create: yes; delete: yes; timestamp: yes; commit: no.
   ToolRun run = Check("YYYN");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{NODES,
                               {"\rMissing node object 9 properties. Create? (Y/N) Y\n"
                                "\rUnlinked node object 9 (\"\"). Delete? (Y/N) Y\n",
                                "FIXED "}},
                              {TIMESTAMPS, {"\rObject 20 [stale] has invalid timestamp. Correct? (Y/N) Y\n", "FIXED "}}}) +
                Summary(3, 3, false),
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("1", Count("nodes"));
   EXPECT_EQ("1", Count("object_properties", "object_id>3"));
   EXPECT_EQ("0", db().Value("SELECT last_modified FROM object_properties WHERE object_id=20"));
}

TEST_F(CheckCommandTest, EachStageJudgesOnlyItsOwnProblems)
{
   AddNode(db(), 9, "0.0.0.0");
   AddNode(db(), 10, "0.0.0.0");
   AddInterface(db(), 11, 9);
   AddProperties(db(), 11, "eth0");
   // Node 9: create (yes), node 10: create (no) -> ERROR; interface 11 then
   // finds its parent's new properties row; timestamps: both yes -> FIXED.
   ToolRun run = Check("YNYYY");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{NODES,
                               {"\rMissing node object 9 properties. Create? (Y/N) Y\n"
                                "\rMissing node object 10 properties. Create? (Y/N) N\n",
                                "ERROR "}},
                              {TIMESTAMPS, {"\rObject 9 [lost_node_9] has invalid timestamp. Correct? (Y/N) Y\n", "FIXED "}}}) +
                Summary(3, 2, true),
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("lost_node_9", db().Value("SELECT name FROM object_properties WHERE object_id=9"));
   EXPECT_NE("0", db().Value("SELECT last_modified FROM object_properties WHERE object_id=9"));
}

TEST_F(CheckCommandTest, ForceAnswersEverythingAndCommits)
{
   db().SetConfig("DBLockStatus", "srv1");
   AddNode(db(), 9, "10.0.0.9");
   Plant(db(), "INSERT INTO acl (object_id,user_id,access_rights) VALUES (9,1,255)");
   AddService(db(), 12, 9);
   AddProperties(db(), 30, "cluster");
   Plant(db(), "INSERT INTO cluster_members (cluster_id,node_id) VALUES (30,77)");
   Plant(db(), "DELETE FROM event_cfg WHERE event_code=26");
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,26)");

   ToolRun run = Check("", {"-f"});
   EXPECT_EQ(kBanner + kHead +
                "Database is locked by server srv1 []\nDo you wish to force database unlock? (Y/N) Y\n"
                "Database lock removed\n" +
                StagesOutput({{NODES,
                               {"\rMissing node object 9 properties. Create? (Y/N) Y\n"
                                "\rUnlinked node object 9 (\"\"). Delete? (Y/N) Y\n",
                                "FIXED "}},
                              {SERVICES,
                               {"\rMissing network service object 12 properties. Create? (Y/N) Y\n"
                                "\rUnlinked network service object 12 (\"\"). Delete? (Y/N) Y\n",
                                "FIXED "}},
                              {CLUSTERS,
                               {"\rCluster object cluster [30] refers to non-existing node 77. Dereference? (Y/N) Y\n",
                                "FIXED "}},
                              {POLICY, {"\rInvalid event ID 0x0000001A used. Correct? (Y/N) Y\n", "FIXED "}}}) +
                Summary(6, 6, true),
             run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("UNLOCKED", db().Value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"));
   for (const char *table : {"nodes", "network_services", "cluster_members", "policy_event_list"})
      EXPECT_EQ("0", Count(table)) << table;
   EXPECT_EQ("0", Count("acl", "object_id=9"));
   EXPECT_EQ("30", db().Value("SELECT object_id FROM object_properties WHERE object_id>3"));
}

TEST_F(CheckCommandTest, TraceShowsEverySelectAndRepair)
{
   AddHealthyNode(db(), 101, "n1");
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
   ToolRun run = Check("YY", {"-t"});
   const std::string policyBody =
      ">>> SELECT object_id FROM policy_source_list\n"
      ">>> SELECT event_code FROM policy_event_list\n"
      ">>> SELECT action_id FROM policy_action_list\n"
      ">>> SELECT action_id FROM actions WHERE action_id=7\n"
      "\rInvalid action ID 7 used. Correct? (Y/N) Y\n"
      ">>> DELETE FROM policy_action_list WHERE action_id=7\n";
   EXPECT_EQ(kBanner + kHead +
                StageLine(NODES) +
                ">>> SELECT id,primary_ip FROM nodes\n"
                ">>> SELECT name,is_deleted FROM object_properties WHERE object_id=101\n"
                ">>> SELECT subnet_id FROM nsmap WHERE node_id=101\n[PASSED]\n" +
                StageLine(INTERFACES) + ">>> SELECT id,node_id FROM interfaces\n[PASSED]\n" +
                StageLine(SERVICES) + ">>> SELECT id,node_id FROM network_services\n[PASSED]\n" +
                StageLine(CLUSTERS) + ">>> SELECT cluster_id,node_id FROM cluster_members\n[PASSED]\n" +
                StageLine(TIMESTAMPS) + ">>> SELECT object_id,name,last_modified FROM object_properties\n[PASSED]\n" +
                StageLine(POLICY) + policyBody + StageLine(POLICY) + "[FIXED ]\n" + Summary(1, 1, true),
             run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("0", Count("policy_action_list"));
}

TEST_F(CheckCommandTest, FailedRepairCostsOnlyItself)
{
   // The properties row the checker would create for node 13 collides with a
   // planted row under a unique index, so its INSERT fails inside the transaction.
   Plant(db(), "CREATE UNIQUE INDEX idx_planted_name ON object_properties(name)");
   AddProperties(db(), 99, "lost_node_13");
   AddNode(db(), 13, "0.0.0.0");
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,7)");
   // Create: yes (fails); action: yes; commit: yes.
   ToolRun run = Check("YYY");
   // The repair that failed; on MySQL the row also gets an empty comment, its
   // comments column having no default there.
   const std::string insert =
      "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified,"
      "status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,"
      "status_thresholds";
   const std::string lostNode13 =
      db().syntax() == "MYSQL" ? insert + ",comments) VALUES (13,'lost_node_13',5,0,0,1,0,0,0,0,0,0,0,'00000000','#00')"
                               : insert + ") VALUES (13,'lost_node_13',5,0,0,1,0,0,0,0,0,0,0,'00000000')";
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{NODES,
                               {"\rMissing node object 13 properties. Create? (Y/N) Y\n"
                                "SQL query failed (ERR):\n" + lostNode13 + "\n",
                                "ERROR "}},
                              {POLICY, {"\rInvalid action ID 7 used. Correct? (Y/N) Y\n", "FIXED "}}}) +
                Summary(2, 1, true),
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   // The later repair was committed; the failed one left nothing.
   EXPECT_EQ("0", Count("policy_action_list"));
   EXPECT_EQ("99", db().Value("SELECT object_id FROM object_properties WHERE object_id>3"));
}

TEST_F(CheckCommandTest, ResultsAreColouredOnATerminal)
{
   AddNode(db(), 5, "0.0.0.0");
   // Create: yes (FIXED); the new row's timestamp: no (ERROR); commit: no.
   ToolRun run = RunToolOnTerminal({"-c", db().config(), "check"}, "YNN");
   const std::string white = "\033[1;37m", normal = "\033[0m";
   for (const std::string &piece : {
           white + "*" + normal + " Checking node objects...",
           white + "[" + "\033[1;32m" + "PASSED" + white + "]" + normal + "\r\n",
           white + "[" + "\033[1;33m" + "FIXED " + white + "]" + normal + "\r\n",
           white + "[" + "\033[1;31m" + "ERROR " + white + "]" + normal + "\r\n",
        })
      EXPECT_NE(std::string::npos, run.out.find(piece)) << piece << "\n" << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Database check completed")) << run.out;
   EXPECT_EQ(7, run.exitCode);
}

// A stage that runs longer than a second shows how far it is, on a terminal
// only, and blanks it out again. A trigger that sleeps holds the first node's
// repair up; the progress is looked at every 256 objects.
TEST_F(CheckCommandTest, SlowStageShowsProgressOnATerminalOnly)
{
   if (db().engine() != "pgsql" && db().engine() != "mysql")
      GTEST_SKIP() << "a " << db().engine() << " database cannot be made to wait inside a statement";
   AddNode(db(), 9, "10.0.0.9", 1);   // no properties row: the repair that waits
   Plant(db(), db().engine() == "mysql" ? "START TRANSACTION" : "BEGIN");
   for (int id = 10; id < 310; id++)
      AddHealthyNode(db(), id, "n" + std::to_string(id));
   Plant(db(), "COMMIT");
   // The trigger comes after the planted rows, or they would wait too.
   if (db().engine() == "pgsql")
   {
      Plant(db(), "CREATE FUNCTION kv_slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(1.5); RETURN NEW; END $$ "
                  "LANGUAGE plpgsql");
      Plant(db(), "CREATE TRIGGER kv_slow BEFORE INSERT ON object_properties FOR EACH ROW EXECUTE FUNCTION kv_slow()");
   }
   else
   {
      Plant(db(), "CREATE TRIGGER kv_slow BEFORE INSERT ON object_properties FOR EACH ROW SET @kv_slept = SLEEP(1.5)");
   }

   // Create: yes; the new row's timestamp: no; commit: no.
   ToolRun terminal = RunToolOnTerminal({"-c", db().config(), "check"}, "YNN", {"NO_COLOR=1"});
   const std::string shown = "256/301" + std::string(7, '\b');
   const std::string blanked = std::string(7, ' ') + std::string(7, '\b');
   size_t at = terminal.out.find(shown);
   ASSERT_NE(std::string::npos, at) << terminal.out;
   // Blanked out before the stage line is printed again with its result.
   EXPECT_EQ(at + shown.size(), terminal.out.find(blanked + StageLine(NODES) + "[FIXED ]", at)) << terminal.out;

   ToolRun piped = Check("YNN");
   EXPECT_EQ(std::string::npos, piped.out.find("256/")) << piped.out;
   EXPECT_EQ(std::string::npos, piped.out.find('\b')) << piped.out;
}

}  // namespace
}  // namespace checktest
