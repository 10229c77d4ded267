// The steps from 55 to 69 through the scripted driver: the statements of the
// dialects no engine here speaks (MSSQL, Oracle), and the step from 64 with a
// dialect value outside the known five.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/settings.h"
#include "lib/kvsrv/kvsrv.h"
#include "tests/support/harness.h"
#include "tests/support/scripted.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/step_runner.h"
#include "upgrade/steps.h"

namespace {

struct Dialect
{
   const char *syntax;
   const char *text;
   const char *widen;   // the step from 64
};

const Dialect kDialects[] = {
   {"MSSQL", "text", "ALTER TABLE nodes ALTER COLUMN community varchar(127) not null"},
   {"ORACLE", "clob", "ALTER TABLE nodes MODIFY community varchar(127)"},
};

TEST(Steps55To68ScriptedTest, LongTextAndCommunityOnMssqlAndOracle)
{
   for (const Dialect &d : kDialects)
   {
      SCOPED_TRACE(d.syntax);
      ScriptedDatabase db(d.syntax, VersionRule(57));
      ToolRun run = db.Run({"upgrade"});
      EXPECT_EQ(0, run.exitCode) << run.out;
      std::vector<std::string> calls = db.Calls();
      const std::string t = d.text;
      const std::string put = "execute INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ";
      struct Step
      {
         int from;
         std::vector<std::string> executes;
      } steps[] = {
         {57,
          {"execute ALTER TABLE object_properties ADD is_system integer",
           "execute UPDATE object_properties SET is_system=0",
           "execute CREATE TABLE graphs (graph_id integer not null,owner_id integer not null,name varchar(255) not "
           "null,config " + t + " not null,PRIMARY KEY(graph_id))",
           "execute CREATE TABLE graph_acl (graph_id integer not null,user_id integer not null,user_rights integer "
           "not null,PRIMARY KEY(graph_id,user_id))",
           "execute UPDATE config SET var_value='58' WHERE var_name='DBFormatVersion'"}},
         {58,
          {"execute ALTER TABLE users ADD cert_mapping_method integer",
           "execute ALTER TABLE users ADD cert_mapping_data " + t, "execute UPDATE users SET cert_mapping_method=0",
           "execute UPDATE users SET cert_mapping_data='#00'", put + "('InternalCA','0',1,1)",
           "execute UPDATE config SET var_value='59' WHERE var_name='DBFormatVersion'"}},
         {59,
          {"execute CREATE TABLE certificates (cert_id integer not null,cert_type integer not null,cert_data " + t +
              " not null,subject " + t + " not null,comments " + t + " not null,PRIMARY KEY(cert_id))",
           put + "('SNMPRequestTimeout','2000',1,1)",
           "execute UPDATE config SET var_value='60' WHERE var_name='DBFormatVersion'"}},
         {64, {"execute " + std::string(d.widen), "execute UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'"}},
         {68,
          {"execute CREATE TABLE audit_log (record_id integer not null,timestamp integer not null,subsystem "
           "varchar(32) not null,success integer not null,user_id integer not null,workstation varchar(63) not null,"
           "object_id integer not null,message " + t + " not null,PRIMARY KEY(record_id))",
           put + "('EnableAuditLog','1',1,1)", put + "('AuditLogRetentionTime','90',1,0)",
           "execute UPDATE config SET var_value='69' WHERE var_name='DBFormatVersion'"}},
      };
      for (const Step &s : steps)
      {
         // The selects of the variable helper are not statements of the step.
         std::vector<std::string> executes;
         for (const std::string &call : StepCalls(calls, s.from))
            if (call.compare(0, 8, "execute ") == 0)
               executes.push_back(call);
         EXPECT_EQ(s.executes, executes) << "step from " << s.from;
      }
   }
}

// On MSSQL and Oracle the widening is an ordinary statement: its failure
// fails the step, and under -X the step goes on to its version.
TEST(Steps55To68ScriptedTest, FailedWideningOnMssqlAndOracle)
{
   for (const Dialect &d : kDialects)
   {
      SCOPED_TRACE(d.syntax);
      ScriptedDatabase db(d.syntax, VersionRule(64) + "fail " + d.widen + " => column is in use\n");
      ToolRun run = db.Run({"upgrade"});
      EXPECT_EQ(kStart + "Upgrading from version 64 to 65\nSQL query failed (column is in use):\n" + d.widen + "\n" +
                   kRollback,
                run.out);
      EXPECT_EQ(7, run.exitCode);

      run = db.Run({"-X", "upgrade"});
      EXPECT_EQ(0, run.exitCode) << run.out;
      EXPECT_EQ((std::vector<std::string>{"execute " + std::string(d.widen),
                                          "execute UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'"}),
                StepCalls(db.Calls(), 0));
   }
}

// The PostgreSQL branch through the driver: the direct form runs unreported;
// only after it failed does the fallback run, and its failure fails the step.
TEST(Steps55To68ScriptedTest, PostgresqlFallbackOnlyAfterTheDirectFormFailed)
{
   const std::string direct = "execute ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)";
   const std::string version = "execute UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'";
   const std::vector<std::string> fallback = {
      "execute ALTER TABLE nodes ADD new_community varchar(127)", "execute UPDATE nodes SET new_community=community",
      "execute ALTER TABLE nodes DROP COLUMN community",
      "execute ALTER TABLE nodes RENAME COLUMN new_community TO community",
      "execute ALTER TABLE nodes ALTER COLUMN community SET NOT NULL"};

   ScriptedDatabase db("PGSQL", VersionRule(64));
   db.Run({"upgrade"});
   EXPECT_EQ((std::vector<std::string>{direct, version}), StepCalls(db.Calls(), 0));

   db.SetScript(VersionRule(64) + "fail " + direct.substr(8) + " => syntax error at or near \"TYPE\"\n");
   ToolRun run = db.Run({"upgrade"});
   EXPECT_EQ(std::string::npos, run.out.find("SQL query failed")) << run.out;
   std::vector<std::string> expected = {direct};
   expected.insert(expected.end(), fallback.begin(), fallback.end());
   expected.push_back(version);
   EXPECT_EQ(expected, StepCalls(db.Calls(), 0));

   db.SetScript(VersionRule(64) + "fail " + direct.substr(8) + " => syntax error\nfail " + fallback[2].substr(8) +
                " => cannot drop column\n");
   run = db.Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(64, 65) + "SQL query failed (cannot drop column):\n" + fallback[2].substr(8) + "\n" +
                kRollback,
             run.out);
   EXPECT_EQ(std::vector<std::string>({direct, fallback[0], fallback[1], fallback[2]}), StepCalls(db.Calls(), 0));
}

// A dialect value outside the known five cannot come from the front end;
// should it ever reach the step, the step says so and changes nothing.
class UnknownDialectTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      DBUnloadDriver();
      snprintf(g_szDbDriver, sizeof(g_szDbDriver), "scripted");
      ASSERT_TRUE(DBInit(0, 0, 0, nullptr));
      snprintf(g_szDbName, sizeof(g_szDbName), "%s", dir_.Write("script.txt", "").c_str());
      snprintf(g_szDbServer, sizeof(g_szDbServer), "%s", dir_.File("calls.log").c_str());
      g_hConnection = DBConnect();
      ASSERT_NE(nullptr, g_hConnection);
   }
   void TearDown() override
   {
      if (g_hConnection != nullptr)
         DBDisconnect(g_hConnection);
      g_hConnection = nullptr;
      DBUnloadDriver();
      g_szDbServer[0] = 0;
      g_nSyntax = DB_SYNTAX_MYSQL;
      g_bSkipErrors = false;
   }
   std::string CallLog()
   {
      std::string text;
      FILE *f = fopen(dir_.File("calls.log").c_str(), "r");
      for (int c; f != nullptr && (c = fgetc(f)) != EOF;)
         text += (char)c;
      if (f != nullptr)
         fclose(f);
      return text;
   }
   TempDir dir_;
};

TEST_F(UnknownDialectTest, Step64To65FailsWithTheInternalError)
{
   for (int syntax : {5, -1})
   {
      for (bool skipErrors : {false, true})
      {
         SCOPED_TRACE(std::to_string(syntax) + (skipErrors ? " with -X" : ""));
         g_nSyntax = syntax;
         g_bSkipErrors = skipErrors;
         StepRunner step;
         testing::internal::CaptureStdout();
         Step64To65(step);
         fflush(stdout);
         EXPECT_EQ("Internal error: unknown database syntax " + std::to_string(syntax) + "\n",
                   testing::internal::GetCapturedStdout());
         // Without -X the step fails and is rolled back; -X passes over it.
         EXPECT_EQ(skipErrors, step.ok());
         EXPECT_EQ("", CallLog());
      }
   }
}

// Every range is in: one step for each version from 14 to 82, in order, so
// that a database at any of them reaches the target in one run.
TEST(UpgradeStepTableTest, HoldsOneStepForEveryVersionFrom14To82)
{
   const std::vector<UpgradeStep> &table = UpgradeStepTable();
   ASSERT_EQ(69u, table.size());
   for (size_t i = 0; i < table.size(); i++)
   {
      EXPECT_EQ(14 + (int)i, table[i].fromVersion) << "row " << i;
      EXPECT_NE(nullptr, table[i].procedure) << "row " << i;
   }
   EXPECT_EQ(TargetFormatVersion - 1, table.back().fromVersion);
}

}  // namespace
