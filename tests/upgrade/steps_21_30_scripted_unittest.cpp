// The steps from 21 to 31 through the scripted driver: the statement texts of
// the dialects no engine here speaks (MSSQL, Oracle) — long-text columns,
// index names — and the failed select the step from 25 goes on after.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

// The steps that create tables with long-text columns and the indexes whose
// names depend on the dialect, as sent to MSSQL and Oracle.
TEST(Steps21To30ScriptedTest, StatementsOnMssqlAndOracle)
{
   for (const OtherDialect &d : kOtherDialects)
   {
      SCOPED_TRACE(d.syntax);
      ScriptedDatabase db(d.syntax, VersionRule(21) +
                                    "select SELECT item_id FROM items => 1000\n"
                                    "row 1001\n"
                                    "select SELECT id FROM nodes WHERE is_deleted=0 => 100\n"
                                    "select SELECT object_id,inherit_rights FROM access_options => 2|0\n"
                                    "row 100|1\n"
                                    "select SELECT name,is_deleted,image_id,status FROM nodes WHERE id=100 => "
                                    "router1|0|10|0\n");
      ToolRun run = db.Run({"-f", "upgrade"});
      // Every step is there: the scripted database goes on to the end.
      EXPECT_EQ(0, run.exitCode) << run.out;
      std::vector<std::string> calls = db.Calls();
      const std::string t = d.text;
      const bool perSchema = d.indexNamesPerSchema;

      // Oracle gets no second index on the primary key's column: it refuses one.
      std::vector<std::string> step23 = {
         "CREATE TABLE raw_dci_values (\titem_id integer not null,   raw_value varchar(255),   "
         "last_poll_time integer,   PRIMARY KEY(item_id))",
         "CREATE INDEX idx_item_id ON raw_dci_values(item_id)",
         "INSERT INTO raw_dci_values (item_id,raw_value,last_poll_time) VALUES (1000,'#00',1)",
         "INSERT INTO raw_dci_values (item_id,raw_value,last_poll_time) VALUES (1001,'#00',1)",
         "UPDATE config SET var_value='24' WHERE var_name='DBFormatVersion'"};
      if (std::string(d.syntax) == "ORACLE")
         step23.erase(step23.begin() + 1);
      EXPECT_EQ(step23, Executed(StepCalls(calls, 23)));
      EXPECT_EQ((std::vector<std::string>{
                   std::string("CREATE INDEX ") + (perSchema ? "idx_idata_100_timestamp" : "idx_timestamp") +
                      " ON idata_100(idata_timestamp)",
                   "UPDATE config SET var_value='25' WHERE var_name='DBFormatVersion'"}),
                Executed(StepCalls(calls, 24)));

      // The service root's name and image are missing: the defaults stand.
      std::vector<std::string> step26 = Executed(StepCalls(calls, 26));
      ASSERT_GE(step26.size(), 4u);
      static const std::regex stamp(",[0-9]{9,}\\)$");
      for (std::string &s : step26)
         s = std::regex_replace(s, stamp, ",<time>)");
      EXPECT_EQ((std::vector<std::string>{
                   "CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,status "
                   "integer not null,is_deleted integer not null,image_id integer,last_modified integer not null,"
                   "inherit_access_rights integer not null,PRIMARY KEY(object_id))",
                   "CREATE TABLE user_profiles (user_id integer not null,var_name varchar(255) not null,var_value " + t +
                      ",PRIMARY KEY(user_id,var_name))",
                   "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
                   "last_modified) VALUES (2,'All Services',5,0,0,0,<time>)",
                   "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
                   "last_modified) VALUES (100,'router1',0,0,10,1,<time>)"}),
                std::vector<std::string>(step26.begin(), step26.begin() + 4));
      EXPECT_EQ(4u + 23 + 1 + 6 + 2 + 1, step26.size());

      std::vector<std::string> step28 = Executed(StepCalls(calls, 28));
      ASSERT_GE(step28.size(), 2u);
      EXPECT_EQ("CREATE TABLE zones (id integer not null,zone_guid integer not null,zone_type integer not null,"
                "controller_ip varchar(15) not null,description " + t + ",PRIMARY KEY(id))",
                step28[0]);
      EXPECT_EQ("CREATE TABLE zone_ip_addr_list (zone_id integer not null,ip_addr varchar(15) not null,"
                "PRIMARY KEY(zone_id,ip_addr))",
                step28[1]);
   }
}

// The step from 25 goes on after a failed select of the old command, even
// without -X: nothing is copied or deleted, the new command is added, the
// step is committed.
TEST(Steps21To30ScriptedTest, FailedSelectOfTheOldIndexCommand)
{
   ScriptedDatabase db("PGSQL", VersionRule(25) +
                                "fail SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand' => "
                                "relation is busy\n");
   ToolRun run = db.Run({"upgrade"}, "n");
   EXPECT_EQ(kStart + UpgradeLines(25, 26) +
                "SQL query failed:\nSELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand'\n",
             OutputBefore(run.out, 26));
   std::vector<std::string> calls = db.Calls();
   EXPECT_EQ((std::vector<std::string>{"INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                                       "VALUES ('IDataIndexCreationCommand_1','CREATE INDEX idx_timestamp ON "
                                       "idata_#25d(idata_timestamp)',0,1)",
                                       "UPDATE config SET var_value='26' WHERE var_name='DBFormatVersion'"}),
             Executed(StepCalls(calls, 25)));
   auto stored = std::find(calls.begin(), calls.end(),
                           "execute UPDATE config SET var_value='26' WHERE var_name='DBFormatVersion'");
   ASSERT_NE(calls.end(), stored);
   EXPECT_EQ("commit", *(stored + 1));
}

}  // namespace
