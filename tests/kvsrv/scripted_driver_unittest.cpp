// The scripted test driver: its script rules, its call log, and the tool run
// through it with a dialect no engine here speaks.
#include <stdio.h>

#include <string>
#include <vector>

#include "lib/kvsrv/kvsrv.h"
#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/support/results.h"
#include "tests/support/scripted.h"

namespace {

// Loads the scripted module in this process and connects to |script|.
class ScriptedDriverTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      DBUnloadDriver();
      snprintf(g_szDbDriver, sizeof(g_szDbDriver), "scripted");
      ASSERT_TRUE(DBInit(0, 0, 0, nullptr));
   }
   void TearDown() override
   {
      if (handle_ != nullptr)
         DBDisconnect(handle_);
      DBUnloadDriver();
      g_szDbServer[0] = 0;
   }
   db_handle_t Connect(const std::string &script)
   {
      snprintf(g_szDbName, sizeof(g_szDbName), "%s", dir_.Write("script.txt", script).c_str());
      snprintf(g_szDbServer, sizeof(g_szDbServer), "%s", dir_.File("calls.log").c_str());
      handle_ = DBConnect();
      return handle_;
   }
   std::vector<std::string> Log() { return ReadCallLog(dir_.File("calls.log")); }
   // The select's rows as "a|b" lines, NULL as "<null>"; "<failed: error>" on failure.
   std::vector<std::string> Select(const std::string &query) { return SelectLines(handle_, query); }

   TempDir dir_;
   db_handle_t handle_ = nullptr;
};

TEST_F(ScriptedDriverTest, SelectsAnswerFromTheFirstMatchingRule)
{
   ASSERT_NE(nullptr, Connect("# answers\n"
                              "select SELECT a FROM t WHERE id=1 => one\n"
                              "select SELECT a FROM t => x|y\n"
                              "row 2|\\|pipe\\\\\n"
                              "row \\N|\n"
                              "select ~FROM u[0-9] => regex\n"
                              "select SELECT empty\n"));
   struct
   {
      const char *query;
      std::vector<std::string> rows;
   } cases[] = {
      {"SELECT a FROM t WHERE id=1", {"one"}},
      {"SELECT a FROM t WHERE id=2", {"x|y", "2||pipe\\", "|"}},
      {"SELECT b FROM u7", {"regex"}},
      {"SELECT empty FROM nowhere", {}},
      {"SELECT unmatched", {}},
   };
   for (const auto &c : cases)
      EXPECT_EQ(c.rows, Select(c.query)) << c.query;
}

TEST_F(ScriptedDriverTest, FailuresCarryTheirTextAndOnceRulesAreUsedUp)
{
   ASSERT_NE(nullptr, Connect("once fail SELECT x => ORA-00942: table or view does not exist\n"
                              "select SELECT x => 7\n"
                              "fail DELETE FROM => locked\n"
                              "fail commit => deadlock\n"
                              "unmatched fail => no such row\n"));
   EXPECT_EQ(std::vector<std::string>{"<failed: ORA-00942: table or view does not exist>"}, Select("SELECT x"));
   EXPECT_EQ(std::vector<std::string>{"7"}, Select("SELECT x"));
   EXPECT_EQ(std::vector<std::string>{"<failed: no such row>"}, Select("SELECT y"));

   char error[1024];
   EXPECT_TRUE(DBQueryEx(handle_, "UPDATE t SET a=1", error));
   EXPECT_FALSE(DBQueryEx(handle_, "DELETE FROM t", error));
   EXPECT_STREQ("locked", error);
   EXPECT_TRUE(DBBegin(handle_));
   EXPECT_FALSE(DBCommit(handle_));
   EXPECT_TRUE(DBRollback(handle_));

   std::vector<std::string> expected = {"select SELECT x", "select SELECT x", "select SELECT y",
                                        "execute UPDATE t SET a=1", "execute DELETE FROM t",
                                        "begin", "commit", "rollback"};
   EXPECT_EQ(expected, Log());
}

TEST_F(ScriptedDriverTest, StatementsAreLoggedOnOneLine)
{
   ASSERT_NE(nullptr, Connect(""));
   char error[1024];
   EXPECT_TRUE(DBQueryEx(handle_, "INSERT INTO t VALUES ('a\\b')\r\nGO", error));
   EXPECT_EQ(std::vector<std::string>{"execute INSERT INTO t VALUES ('a\\\\b')\\r\\nGO"}, Log());
}

TEST_F(ScriptedDriverTest, BadScriptsAndConnectFailuresRefuseTheConnection)
{
   const char *scripts[] = {
      "fail connect => server is down\n",
      "row 1\n",
      "select ~([ => x\n",
      "fail INSERT\n",
      "unmatched sometimes\n",
      "frobnicate\n",
   };
   for (const char *script : scripts)
   {
      EXPECT_EQ(nullptr, Connect(script)) << script;
      handle_ = nullptr;
   }
}

TEST(ScriptedToolTest, RecordsTheToolsCallsInOrder)
{
   ScriptedDatabase db("ORACLE", "select SELECT var_value FROM config WHERE var_name='DBLockStatus' => srv1\n"
                                 "select SELECT var_value FROM config WHERE var_name='DBLockInfo' => info\n");
   ToolRun run = db.Run({"unlock"}, "y");
   EXPECT_EQ(kBanner + "Database is locked by server srv1 [info]\n"
                                        "Do you wish to force database unlock? (Y/N) Y\nDatabase lock removed\n",
             run.out);
   EXPECT_EQ(0, run.exitCode);
   std::vector<std::string> expected = {
      std::string("select ") + kSyntaxQuery,
      "select SELECT var_value FROM config WHERE var_name='DBLockStatus'",
      "select SELECT var_value FROM config WHERE var_name='DBLockInfo'",
      "execute UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'",
   };
   EXPECT_EQ(expected, db.Calls());
   EXPECT_EQ(std::vector<std::string>{"UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'"},
             db.Statements());

   // An injected failure of the unlock statement reaches the operator with its text.
   db.SetScript("select SELECT var_value FROM config WHERE var_name='DBLockStatus' => srv1\n"
                "fail UPDATE config => ORA-01013: user requested cancel\n");
   run = db.Run({"unlock"}, "y");
   EXPECT_NE(std::string::npos, run.out.find("ORA-01013: user requested cancel")) << run.out;
   EXPECT_EQ(7, run.exitCode);
}

// An ODBC data source reports a dropped connection by SQLSTATE. Those states
// end the command at the failing call: no rollback, no further statement, no
// report of the step; any other state is an ordinary failure.
TEST(ScriptedToolTest, LostConnectionStatesEndTheCommand)
{
   const std::string update = "execute UPDATE alarms SET timeout=0,timeout_event=43";
   struct Case
   {
      std::string rule;
      std::string error;
      std::string lastCall;
      bool lost;
   } cases[] = {
      {"fail UPDATE alarms => ", "[08S01] Communication link failure", update, true},
      {"fail SELECT var_value FROM config WHERE var_name='DBLockStatus' => ", "[08003] Connection does not exist",
       "select SELECT var_value FROM config WHERE var_name='DBLockStatus'", true},
      {"fail commit => ", "[08007] Connection failure during transaction", "commit", true},
      {"fail UPDATE alarms => ", "[42S02] Invalid object name 'alarms'", "rollback", false},
   };
   for (const Case &c : cases)
   {
      ScriptedDatabase db("MSSQL", VersionRule(82) + c.rule + c.error + "\n");
      ToolRun run = db.Run({"upgrade"});
      const std::string lost = "Connection to the database lost (" + c.error + "); command stopped\n";
      EXPECT_EQ(c.lost, EndsWith(run.out, lost)) << c.error << "\n" << run.out;
      EXPECT_EQ(!c.lost, run.out.find("Database upgrade failed\n") != std::string::npos) << c.error << "\n" << run.out;
      EXPECT_EQ(7, run.exitCode) << c.error;
      std::vector<std::string> calls = db.Calls();
      ASSERT_FALSE(calls.empty());
      EXPECT_EQ(c.lastCall, calls.back()) << c.error;
   }
}

}  // namespace
