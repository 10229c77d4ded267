// The step runner on a real engine: the order in which declared data goes in,
// and how a failure ends a step or, under -X, is passed over.
#include <string>

#include "db/dialects.h"
#include "db/settings.h"
#include "tests/support/access_layer.h"
#include "upgrade/step_runner.h"

namespace {

// The step runner works through the access layer on the test database.
using StepRunnerTest = AccessLayerTest;

const ObjectTool kTools[] = {
   {5, "&Info->&Switch forwarding database", 2, "Switch forwarding database", 1, "", "Show FDB"},
   {6, "&Connect->&Telnet", 4, "telnet://%OBJECT_IP_ADDR%", 0, "", "Open telnet session"},
};
const ObjectToolColumn kToolColumns[] = {
   {5, 0, "MAC", ".1.3.6.1.2.1.17.4.3.1.1", 4, 0},
   {5, 1, "Port", ".1.3.6.1.2.1.17.4.3.1.2", 1, 0},
};
const EventTemplate kEvents[] = {
   {60, "SYS_ONE", 1, 1, "One %1", "First#0D#0AParameters"},
   {61, "SYS_TWO", 0, 1, "Two", "Second"},
};

// Each tool is followed by its own columns; the access rows come last. Event
// templates go in in table order.
TEST_F(StepRunnerTest, DeclaredRowsGoInInTheirDocumentedOrder)
{
   ASSERT_TRUE(db().Exec("CREATE TABLE object_tools (tool_id integer not null,tool_name varchar(255),"
                         "tool_type integer,tool_data varchar(255),flags integer,matching_oid varchar(255),"
                         "description varchar(255),confirmation_text varchar(255),PRIMARY KEY(tool_id))"));
   ASSERT_TRUE(db().Exec("CREATE TABLE object_tools_table_columns (tool_id integer not null,col_number integer "
                         "not null,col_name varchar(255),col_oid varchar(255),col_format integer,col_substr integer,"
                         "PRIMARY KEY(tool_id,col_number))"));
   ASSERT_TRUE(db().Exec("CREATE TABLE object_tools_acl (tool_id integer not null,user_id integer not null)"));
   ASSERT_TRUE(db().Exec("CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63),"
                         "severity integer,flags integer,message varchar(255),description varchar(255))"));
   g_bShowQueries = true;
   StepRunner step;
   Capture();
   step.AddObjectTools(TOOL_COLUMNS_CONFIRMATION, kTools, kToolColumns);
   step.AddEvents(kEvents);
   std::string out = Captured();
   EXPECT_TRUE(step.ok()) << out;

   const char *const order[] = {
      "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,"
      "confirmation_text) VALUES (5,'&Info->&Switch forwarding database',2,'Switch forwarding database',1,'',"
      "'Show FDB','#00')",
      "VALUES (5,0,'MAC','.1.3.6.1.2.1.17.4.3.1.1',4,0)",
      "VALUES (5,1,'Port','.1.3.6.1.2.1.17.4.3.1.2',1,0)",
      "VALUES (6,'&Connect->&Telnet',4,",
      "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (5,-2147483648)",
      "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (6,-2147483648)",
      "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
      "(60,'SYS_ONE',1,1,'One %1','First#0D#0AParameters')",
      "VALUES (61,'SYS_TWO',0,1,'Two','Second')",
   };
   size_t at = 0;
   for (const char *text : order)
   {
      size_t found = out.find(text, at);
      ASSERT_NE(std::string::npos, found) << text << "\nafter position " << at << " of:\n" << out;
      at = found;
   }
   EXPECT_EQ((Rows{{"5", "0", "MAC"}, {"5", "1", "Port"}}),
             db().Query("SELECT tool_id,col_number,col_name FROM object_tools_table_columns ORDER BY col_number"));
   EXPECT_EQ((Rows{{"5"}, {"6"}}), db().Query("SELECT tool_id FROM object_tools_acl ORDER BY tool_id"));
   EXPECT_EQ((Rows{{"60"}, {"61"}}), db().Query("SELECT event_code FROM event_cfg ORDER BY event_code"));
}

// A failed operation ends the step: nothing after it runs, not even a read.
// Under -X it is passed over, and a failed select or read tells the step to
// skip what needed it. A missing variable is not a failure.
TEST_F(StepRunnerTest, FailureEndsTheStepUnlessSkipped)
{
   ASSERT_TRUE(db().Exec("CREATE TABLE runner_t (n integer)"));
   ASSERT_TRUE(db().Exec("INSERT INTO config (var_name,var_value) VALUES ('Stored','17')"));
   for (bool skip : {false, true})
   {
      ASSERT_TRUE(db().Exec("DELETE FROM runner_t"));
      g_bSkipErrors = skip;
      StepRunner step;
      int32_t missing = 0, stored = 0;
      Capture();
      EXPECT_TRUE(step.ReadConfigInt("Absent", 5, &missing));
      step.Exec("INSERT INTO runner_t VALUES (1)");
      step.Exec("INSERT INTO no_such_table VALUES (2)");
      StepRows rows = step.Select("SELECT n FROM no_such_table");
      bool read = step.ReadConfigInt("Stored", 0, &stored);
      step.Exec("INSERT INTO runner_t VALUES (3)");
      std::string out = Captured();

      EXPECT_EQ(5, missing);
      EXPECT_FALSE(rows) << skip;
      EXPECT_EQ(skip, step.ok());
      EXPECT_EQ(skip, read);
      EXPECT_EQ(skip ? 17 : 0, stored);
      EXPECT_EQ(skip ? (Rows{{"1"}, {"3"}}) : (Rows{{"1"}}), db().Query("SELECT n FROM runner_t ORDER BY n"));
      // Without -X the select after the failure is never sent, so never reported.
      EXPECT_EQ(skip, out.find("SELECT n FROM no_such_table") != std::string::npos) << out;
   }
}

// A quiet statement is neither echoed nor reported, and does not fail the step.
TEST_F(StepRunnerTest, QuietStatementsNeverFailTheStep)
{
   g_bShowQueries = true;
   StepRunner step;
   Capture();
   EXPECT_FALSE(step.ExecQuiet("DELETE FROM no_such_table"));
   step.DropIndexQuietly("idx_no_such_index", "config");
   std::string out = Captured();
   EXPECT_EQ("", out);
   EXPECT_TRUE(step.ok());
}

// Older formats gave one index name to several tables. Where names are per
// schema each table's index gets its own name, so both can be created; MySQL
// keeps the plain name on each table.
TEST_F(StepRunnerTest, IndexesSharingAPlainNameCanAllBeCreated)
{
   ASSERT_TRUE(db().Exec("CREATE TABLE idata_1 (item_id integer,idata_timestamp integer)"));
   ASSERT_TRUE(db().Exec("CREATE TABLE idata_2 (item_id integer,idata_timestamp integer)"));
   const TableIndex indexes[] = {
      {"idata_1", "item_id", "idx_item_id", "item_id"},
      {"idata_2", "item_id", "idx_item_id", "item_id"},
   };
   StepRunner step;
   Capture();
   step.CreateIndexes(indexes);
   std::string out = Captured();
   EXPECT_TRUE(step.ok()) << out;
   EXPECT_EQ("", out);
   // And each can be dropped again in the dialect's own form.
   for (const TableIndex &index : indexes)
   {
      std::string name = IndexName(index.table, index.suffix, index.plainName);
      EXPECT_TRUE(step.ExecQuiet(DropIndexStatement(name.c_str(), index.table))) << name;
   }
}

}  // namespace
