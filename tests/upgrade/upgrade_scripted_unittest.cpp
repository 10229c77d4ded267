// The upgrade through the scripted driver: statement texts of the dialects no
// engine here speaks (MSSQL, Oracle), and failures no engine shows on demand.
#include <algorithm>
#include <string>
#include <vector>

#include "db/settings.h"
#include "tests/support/harness.h"
#include "tests/support/scripted.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/step_runner.h"
#include "upgrade/upgrade.h"

namespace {

TEST(UpgradeScriptedTest, Steps78To83OnMssqlAndOracle)
{
   struct Case
   {
      const char *syntax;
      const char *text;    // what $SQL:TEXT becomes
   } cases[] = {{"MSSQL", "text"}, {"ORACLE", "clob"}};
   for (const Case &c : cases)
   {
      ScriptedDatabase db(c.syntax, VersionRule(78) +
                                    "select SELECT item_id,schedule FROM dci_schedules => 3|a\n"
                                    "row 9|it's\n");
      ToolRun run = db.Run({"upgrade"});
      EXPECT_EQ(kStart + UpgradeLines(78, 83) + kSucceeded, run.out)
         << c.syntax;
      EXPECT_EQ(0, run.exitCode);
      const std::string t = c.text;
      // Every call after the dialect read: the version, the lock, then one
      // transaction per step. No MySQL column changes; both keys added.
      std::vector<std::string> expected = {
         std::string("select ") + kVersionQuery,
         "select SELECT var_value FROM config WHERE var_name='DBLockStatus'",
         "begin",
         "execute DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'",
         "execute DROP TABLE modules",
         "execute UPDATE config SET var_value='79' WHERE var_name='DBFormatVersion'",
         "commit",
         "begin",
         "execute ALTER TABLE nodes ADD uname varchar(255)",
         "execute UPDATE nodes SET uname='#00'",
         "execute UPDATE config SET var_value='80' WHERE var_name='DBFormatVersion'",
         "commit",
         "begin",
         "select SELECT item_id,schedule FROM dci_schedules",
         "execute DROP TABLE dci_schedules",
         "execute CREATE TABLE dci_schedules (schedule_id integer not null,item_id integer not null,schedule "
         "varchar(255) not null,PRIMARY KEY(item_id,schedule_id))",
         "execute INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(3,1,'a')",
         "execute INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(9,2,'it''s')",
         "execute ALTER TABLE address_lists ADD PRIMARY KEY (list_type,community_id,addr_type,addr1,addr2)",
         "execute ALTER TABLE lpp_associations ADD PRIMARY KEY (lpp_id,node_id,log_file)",
         "execute CREATE TABLE object_custom_attributes (object_id integer not null,attr_name varchar(127) not "
         "null,attr_value " + t + " not null,PRIMARY KEY(object_id,attr_name))",
         "execute CREATE TABLE web_maps (id integer not null,title varchar(63) not null,properties " + t +
            " not null,data " + t + " not null,PRIMARY KEY(id))",
         "execute UPDATE config SET var_value='81' WHERE var_name='DBFormatVersion'",
         "commit",
         "begin",
         "execute CREATE TABLE config_clob (var_name varchar(63) not null,var_value " + t +
            " not null,PRIMARY KEY(var_name))",
         "execute UPDATE config SET var_value='82' WHERE var_name='DBFormatVersion'",
         "commit",
         "begin",
         "execute UPDATE alarms SET timeout=0,timeout_event=43",
         "execute UPDATE config SET var_value='83' WHERE var_name='DBFormatVersion'",
         "commit",
      };
      std::vector<std::string> calls = db.Calls();
      ASSERT_FALSE(calls.empty());
      calls.erase(calls.begin());   // the dialect read of the front end
      EXPECT_EQ(expected, calls) << c.syntax;
   }
}

TEST(UpgradeScriptedTest, Int64MacroAndRetentionOnOracle)
{
   // The retention values in C notation, read through the scripted answers.
   ScriptedDatabase db("ORACLE", VersionRule(69) +
                                 "select SELECT var_value FROM config WHERE var_name='EventLogRetentionTime' => 0x54600\n"
                                 "select SELECT var_value FROM config WHERE var_name='SyslogRetentionTime' => 010\n"
                                 "fail ~^CREATE TABLE situations => ORA-00955: name is already used\n");
   ToolRun run = db.Run({"-X", "upgrade"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   std::vector<std::string> statements = db.Statements();
   EXPECT_TRUE(Contains(statements, "UPDATE config SET var_value='4' WHERE var_name='EventLogRetentionTime'"));
   EXPECT_TRUE(Contains(statements, "UPDATE config SET var_value='1' WHERE var_name='SyslogRetentionTime'"));
   EXPECT_TRUE(Contains(statements, "CREATE TABLE situations (id integer not null,name varchar(127) not null,"
                                    "comments clob not null,PRIMARY KEY(id))"));
   EXPECT_TRUE(Contains(statements, "CREATE TABLE config_clob (var_name varchar(63) not null,var_value clob not null,"
                                    "PRIMARY KEY(var_name))"));
   EXPECT_NE(std::string::npos, run.out.find("SQL query failed (ORA-00955: name is already used):\nCREATE TABLE situations"))
      << run.out;
   EXPECT_NE(std::string::npos, run.out.find("1 failed SQL statement was ignored (-X)\nDatabase upgrade succeeded\n"))
      << run.out;
}

TEST(UpgradeScriptedTest, FailingVersionSelectCountsAsVersionZero)
{
   ScriptedDatabase db("PGSQL", std::string("fail ") + kVersionQuery + " => connection reset\n");
   ToolRun run = db.Run({"-t", "upgrade"});
   // Neither echoed nor reported: just no procedure for version 0.
   EXPECT_EQ(kStart + NoProcedure(0), run.out);
   EXPECT_EQ(7, run.exitCode);

   db.SetScript(std::string("fail ") + kVersionQuery + " => connection reset\n"
                "select SELECT var_value FROM config WHERE var_name='DBLockStatus' => srv\n");
   run = db.Run({"upgrade"});
   EXPECT_EQ(kStart + "Database is locked\n", run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_TRUE(db.Statements().empty());
}

TEST(UpgradeScriptedTest, FailedCommitIsAFailedStep)
{
   ScriptedDatabase db("PGSQL", VersionRule(81) + "once fail commit => could not serialize\n");
   ToolRun run = db.Run({"upgrade"});
   EXPECT_EQ(kStart + "Upgrading from version 81 to 82\nSQL query failed (could not serialize):\nCOMMIT\n" + kRollback,
             run.out);
   EXPECT_EQ(7, run.exitCode);
   std::vector<std::string> calls = db.Calls();
   ASSERT_GE(calls.size(), 2u);
   EXPECT_EQ("rollback", calls.back());
   EXPECT_EQ("commit", calls[calls.size() - 2]);
}

// The table the engine walks: from-versions ascending, the last one right
// below the target. Every step, run through the engine, ends with the
// statement that stores its own from-version + 1, right before its commit.
// Ranges not written yet leave gaps: each run of contiguous steps is walked
// from its first version and stops at the gap.
TEST(UpgradeScriptedTest, StepTableIsAscendingAndEachStepStoresTheNextVersion)
{
   const std::vector<UpgradeStep> &table = UpgradeStepTable();
   ASSERT_FALSE(table.empty());
   std::vector<int> firsts = {table.front().fromVersion};
   for (size_t i = 0; i < table.size(); i++)
   {
      EXPECT_NE(nullptr, table[i].procedure) << i;
      if (i > 0)
      {
         EXPECT_LT(table[i - 1].fromVersion, table[i].fromVersion) << i;
         if (table[i - 1].fromVersion + 1 != table[i].fromVersion)
            firsts.push_back(table[i].fromVersion);
      }
   }
   EXPECT_EQ(TargetFormatVersion - 1, table.back().fromVersion);

   for (int first : firsts)
   {
      ScriptedDatabase db("PGSQL", VersionRule(first));
      ToolRun run = db.Run({"-f", "upgrade"});
      std::vector<std::string> calls = db.Calls();
      int version = first;
      for (size_t i = 1; i < calls.size(); i++)
      {
         if (calls[i] != "commit")
            continue;
         EXPECT_EQ("execute " + VersionStatement(version + 1), calls[i - 1]) << "step from " << version;
         version++;
      }
      int end = first;
      while (std::any_of(table.begin(), table.end(), [end](const UpgradeStep &s) { return s.fromVersion == end; }))
         end++;
      EXPECT_EQ(end, version) << run.out;
      EXPECT_EQ(end == TargetFormatVersion ? 0 : 7, run.exitCode) << run.out;
   }
}

// A step that cannot be put in a transaction could not be rolled back: it
// must not run at all.
TEST(UpgradeScriptedTest, FailedBeginRunsNoStatement)
{
   ScriptedDatabase db("PGSQL", VersionRule(81) + "fail begin => out of connections\n");
   ToolRun run = db.Run({"-X", "upgrade"});
   EXPECT_EQ(kStart + "Upgrading from version 81 to 82\nSQL query failed (out of connections):\nBEGIN\n"
                      "Database upgrade failed\n",
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_TRUE(db.Statements().empty());
   EXPECT_EQ("begin", db.Calls().back());
}

// A retention period that cannot be read is not "missing": the default must
// not be written over the stored value. Without -X the step fails; under -X
// the step leaves that value alone, converts the other, and the ignored
// failure is counted.
TEST(UpgradeScriptedTest, FailedRetentionReadLeavesTheStoredValue)
{
   const std::string script = VersionRule(69) +
                              "fail SELECT var_value FROM config WHERE var_name='EventLogRetentionTime' => timeout\n"
                              "select SELECT var_value FROM config WHERE var_name='SyslogRetentionTime' => 172800\n";
   auto writesEventLogRetention = [](const std::vector<std::string> &statements) {
      for (const std::string &s : statements)
         if (s.find("EventLogRetentionTime") != std::string::npos)
            return true;
      return false;
   };

   ScriptedDatabase db("SQLITE", script);
   ToolRun run = db.Run({"upgrade"});
   EXPECT_EQ(kStart + "Upgrading from version 69 to 70\n"
                      "SQL query failed:\nSELECT var_value FROM config WHERE var_name='EventLogRetentionTime'\n" +
                kRollback,
             run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_FALSE(writesEventLogRetention(db.Statements()));
   EXPECT_EQ("rollback", db.Calls().back());

   run = db.Run({"-X", "upgrade"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   std::vector<std::string> statements = db.Statements();
   EXPECT_FALSE(writesEventLogRetention(statements));
   EXPECT_TRUE(Contains(statements, "UPDATE config SET var_value='2' WHERE var_name='SyslogRetentionTime'"));
   EXPECT_NE(std::string::npos, run.out.find("1 failed SQL statement was ignored (-X)\nDatabase upgrade succeeded\n"))
      << run.out;
}

}  // namespace
