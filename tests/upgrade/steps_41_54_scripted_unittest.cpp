// The steps from 41 to 55 through the scripted driver: the re-indexing of the
// collected data in each of the five dialects, and the table texts of the
// dialects no engine here speaks (MSSQL, Oracle).
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted.h"

namespace {

struct ReindexCase
{
   const char *syntax;
   const char *drop5, *create5, *drop9, *create9;
   const char *stored;   // the template as the variable stores it
};

// Each dialect drops the old index in its own form, under the name it was
// made with (per table on MySQL and MSSQL, per schema elsewhere), and makes
// its own index.
const ReindexCase kReindexCases[] = {
   {"MYSQL", "DROP INDEX idx_timestamp ON idata_5",
    "CREATE INDEX idx_idata_5_id_timestamp ON idata_5(item_id,idata_timestamp)", "DROP INDEX idx_timestamp ON idata_9",
    "CREATE INDEX idx_idata_9_id_timestamp ON idata_9(item_id,idata_timestamp)",
    "CREATE INDEX idx_idata_#25d_id_timestamp ON idata_#25d(item_id,idata_timestamp)"},
   {"PGSQL", "DROP INDEX idx_idata_5_timestamp",
    "CREATE INDEX idx_idata_5_timestamp_id ON idata_5(idata_timestamp,item_id)", "DROP INDEX idx_idata_9_timestamp",
    "CREATE INDEX idx_idata_9_timestamp_id ON idata_9(idata_timestamp,item_id)",
    "CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)"},
   {"MSSQL", "DROP INDEX idata_5.idx_timestamp",
    "CREATE CLUSTERED INDEX idx_idata_5_id_timestamp ON idata_5(item_id,idata_timestamp)",
    "DROP INDEX idata_9.idx_timestamp",
    "CREATE CLUSTERED INDEX idx_idata_9_id_timestamp ON idata_9(item_id,idata_timestamp)",
    "CREATE CLUSTERED INDEX idx_idata_#25d_id_timestamp ON idata_#25d(item_id,idata_timestamp)"},
   {"ORACLE", "DROP INDEX idx_idata_5_timestamp",
    "CREATE INDEX idx_idata_5_timestamp_id ON idata_5(idata_timestamp,item_id)", "DROP INDEX idx_idata_9_timestamp",
    "CREATE INDEX idx_idata_9_timestamp_id ON idata_9(idata_timestamp,item_id)",
    "CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)"},
   {"SQLITE", "DROP INDEX idx_idata_5_timestamp",
    "CREATE INDEX idx_idata_5_timestamp_id ON idata_5(idata_timestamp,item_id)", "DROP INDEX idx_idata_9_timestamp",
    "CREATE INDEX idx_idata_9_timestamp_id ON idata_9(idata_timestamp,item_id)",
    "CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)"},
};

TEST(Steps41To54ScriptedTest, ReindexingInEveryDialect)
{
   for (const ReindexCase &c : kReindexCases)
   {
      SCOPED_TRACE(c.syntax);
      // Dropping an old index fails where it was never made: that changes nothing.
      ScriptedDatabase db(c.syntax, VersionRule(52) +
                                    "select SELECT id FROM nodes => 5\n"
                                    "row 9\n"
                                    "fail " + std::string(c.drop9) + " => no such index\n");
      ToolRun run = db.Run({"upgrade"});
      const std::string progress =
         "Upgrading from version 52 to 53\nReindexing database:\n   * idata_5\n   * idata_9\n"
         "Upgrading from version 53 to 54\n";
      EXPECT_NE(std::string::npos, run.out.find(progress)) << run.out;
      EXPECT_EQ(std::string::npos, run.out.find("no such index")) << run.out;
      std::vector<std::string> expected = {
         "select SELECT id FROM nodes",
         std::string("execute ") + c.drop5,
         std::string("execute ") + c.create5,
         std::string("execute ") + c.drop9,
         std::string("execute ") + c.create9,
         "execute DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'",
         "select SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'",
         "execute INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
         "('IDataIndexCreationCommand_1','" + std::string(c.stored) + "',0,1)",
         "execute UPDATE config SET var_value='53' WHERE var_name='DBFormatVersion'",
      };
      EXPECT_EQ(expected, StepCalls(db.Calls()));
   }
}

// A database without nodes: the heading alone, and the variable all the same.
TEST(Steps41To54ScriptedTest, ReindexingWithoutNodes)
{
   ScriptedDatabase db("ORACLE", VersionRule(52));
   ToolRun run = db.Run({"upgrade"});
   EXPECT_NE(std::string::npos,
             run.out.find("Upgrading from version 52 to 53\nReindexing database:\nUpgrading from version 53 to 54\n"))
      << run.out;
   std::vector<std::string> step = StepCalls(db.Calls());
   ASSERT_EQ(5u, step.size());
   EXPECT_EQ("execute INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
             "('IDataIndexCreationCommand_1','CREATE INDEX idx_idata_#25d_timestamp_id ON "
             "idata_#25d(idata_timestamp,item_id)',0,1)",
             step[3]);
}

// A CREATE that fails is reported and passed over, without -X too; the
// variable and the version are still written.
TEST(Steps41To54ScriptedTest, FailedIndexDoesNotFailTheStep)
{
   ScriptedDatabase db("MSSQL", VersionRule(52) +
                                "select SELECT id FROM nodes => 5\n"
                                "row 9\n"
                                "fail CREATE CLUSTERED INDEX idx_idata_5_ => Invalid object name 'idata_5'.\n");
   ToolRun run = db.Run({"upgrade"});
   EXPECT_NE(std::string::npos,
             run.out.find("Reindexing database:\n   * idata_5\nSQL query failed (Invalid object name 'idata_5'.):\n"
                          "CREATE CLUSTERED INDEX idx_idata_5_id_timestamp ON idata_5(item_id,idata_timestamp)\n"
                          "   * idata_9\nUpgrading from version 53 to 54\n"))
      << run.out;
   std::vector<std::string> step = StepCalls(db.Calls());
   ASSERT_FALSE(step.empty());
   EXPECT_EQ("execute UPDATE config SET var_value='53' WHERE var_name='DBFormatVersion'", step.back());
}

// The tables of the range with the dialect's long-text and 64-bit types,
// the tab after the table name kept.
TEST(Steps41To54ScriptedTest, TableTextsOnMssqlAndOracle)
{
   struct Case
   {
      const char *syntax, *text, *int64;
   } cases[] = {{"MSSQL", "text", "bigint"}, {"ORACLE", "clob", "number(20)"}};
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.syntax);
      ScriptedDatabase db(c.syntax, VersionRule(41));
      db.Run({"upgrade"});
      std::vector<std::string> statements = db.Statements();
      const std::string t = c.text;
      for (const std::string &expected : std::vector<std::string>{
              "CREATE TABLE conditions\t(id integer not null,activation_event integer not null,"
              "deactivation_event integer not null,source_object integer not null,active_status integer not null,"
              "inactive_status integer not null,script " + t + " not null,PRIMARY KEY(id))",
              "CREATE TABLE agent_configs (config_id integer not null,config_name varchar(255) not null,"
              "config_file " + t + " not null,config_filter " + t + " not null,sequence_number integer not null,"
              "PRIMARY KEY(config_id))",
              "ALTER TABLE object_properties ADD comments " + t,
              "CREATE TABLE alarm_change_log\t(change_id " + std::string(c.int64) + " not null,"
              "change_time integer not null,alarm_id integer not null,opcode integer not null,"
              "user_id integer not null,info_text " + t + " not null,PRIMARY KEY(change_id))",
              "ALTER TABLE event_policy ADD script " + t,
              std::string("ALTER TABLE event_groups ADD range_END integer"),
              "CREATE TABLE address_lists (list_type integer not null,addr_type integer not null,"
              "addr1 varchar(15) not null,addr2 varchar(15) not null)",
           })
         EXPECT_TRUE(Contains(statements, expected)) << expected;
   }
}

}  // namespace
