// Upgrading a format-69 database to 83, end to end: what the run prints, and
// what every step leaves in the database.
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

class Upgrade69Test : public UpgradeTest
{
protected:
   void SetUpDatabase() override { LoadFormat69(db()); }
};

// The format-69 sample brought to 83 by one run that went through every step.
class Upgraded69Test : public Upgrade69Test
{
protected:
   void SetUpDatabase() override
   {
      Upgrade69Test::SetUpDatabase();
      ToolRun run = db().Run({"upgrade"});
      ASSERT_EQ(kStart + UpgradeLines(69, 83) + kSucceeded, run.out) << run.err;
      ASSERT_EQ(0, run.exitCode);
   }
};

TEST_F(Upgraded69Test, EndsAt83WithNothingLeftForASecondRun)
{
   EXPECT_EQ("83", Config("DBFormatVersion"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kUpToDate, run.out);
   EXPECT_EQ(0, run.exitCode);
}

// The columns the steps add hold their first value in every existing row,
// and the step from 82 resets every alarm's timeout.
TEST_F(Upgraded69Test, ExistingRowsGetTheirNewValues)
{
   // 69 to 70: user tags.
   EXPECT_EQ((Rows{{"#00"}}), db().Query("SELECT user_tag FROM snmp_trap_cfg"));
   EXPECT_EQ((Rows{{"#00"}}), db().Query("SELECT user_tag FROM event_log"));
   // 70 to 71 and 71 to 72: poll counts and proxy nodes.
   EXPECT_EQ((Rows{{"0"}, {"0"}}), db().Query("SELECT required_polls FROM nodes ORDER BY id"));
   EXPECT_EQ((Rows{{"0"}}), db().Query("SELECT required_polls FROM interfaces"));
   EXPECT_EQ((Rows{{"0"}}), db().Query("SELECT required_polls FROM network_services"));
   EXPECT_EQ((Rows{{"0"}, {"0"}}), db().Query("SELECT proxy_node FROM items ORDER BY item_id"));
   // 72 to 73: situations.
   EXPECT_EQ((Rows{{"0", "#00"}}), db().Query("SELECT situation_id,situation_instance FROM event_policy"));
   // 74 to 75: communities.
   EXPECT_EQ((Rows{{"0"}, {"0"}}), db().Query("SELECT community_id FROM address_lists ORDER BY list_type"));
   // 79 to 80: uname.
   EXPECT_EQ((Rows{{"#00"}, {"#00"}}), db().Query("SELECT uname FROM nodes ORDER BY id"));
   // 82 to 83: every alarm's timeout reset.
   EXPECT_EQ((Rows{{"0", "43"}, {"0", "43"}}),
             db().Query("SELECT timeout,timeout_event FROM alarms ORDER BY alarm_id"));
}

// Retention periods become days; a variable the steps create keeps the value
// set before; the variables they delete are gone.
TEST_F(Upgraded69Test, ConfigurationVariables)
{
   EXPECT_EQ("2", Config("EventLogRetentionTime"));
   EXPECT_EQ("0,1", ConfigFlags("EventLogRetentionTime"));   // an existing variable keeps its flags
   EXPECT_EQ("60", Config("SyslogRetentionTime"));
   EXPECT_EQ("1,0", ConfigFlags("SyslogRetentionTime"));     // an absent one is created visible
   EXPECT_EQ("1", Config("AllowDirectSMS"));                 // set before: not overwritten
   EXPECT_EQ("<none>", Config("RetainCustomInterfaceNames")); // created at 72, deleted at 78
   EXPECT_EQ("<none>", Config("NumberOfEventProcessors"));
   EXPECT_EQ("<none>", Config("EventStormThreshold"));
   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"PollCountForStatusChange", "1", "1,1"},  {"EnableEventStormDetection", "0", "1,1"},
      {"EventStormEventsPerSecond", "100", "1,1"}, {"EventStormDuration", "15", "1,1"},
      {"UseInterfaceAliases", "0", "1,0"},       {"SyncNodeNamesWithDNS", "0", "1,0"},
      {"AgentCommandTimeout", "2000", "1,1"},    {"BeaconHosts", "#00", "1,1"},
      {"BeaconTimeout", "1000", "1,1"},          {"BeaconPollingInterval", "1000", "1,1"},
      {"CheckTrustedNodes", "1", "1,1"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
   }
}

// 73 to 74 and 75 to 76: the event templates of storms and beacons.
TEST_F(Upgraded69Test, EventTemplatesOfStormsAndBeacons)
{
   EXPECT_EQ((Rows{{"48", "SYS_EVENT_STORM_DETECTED", "3", "1", "Event storm detected (Events per second: %1)",
                    "Generated when system detects an event storm.#0D#0AParameters:#0D#0A   1) Events per second"
                    "#0D#0A   2) Duration#0D#0A   3) Threshold"},
                   {"49", "SYS_EVENT_STORM_ENDED", "0", "1", "Event storm ended",
                    "Generated when system clears event storm condition.#0D#0AParameters:#0D#0A   1) Events per "
                    "second#0D#0A   2) Duration#0D#0A   3) Threshold"},
                   {"50", "SYS_NETWORK_CONN_LOST", "4", "1", "Korvel server network connectivity lost",
                    "Generated when system detects loss of network connectivity based on beacon probing.#0D#0A"
                    "Parameters:#0D#0A   1) Number of beacons"},
                   {"51", "SYS_NETWORK_CONN_RESTORED", "0", "1", "Korvel server network connectivity restored",
                    "Generated when system detects restoration of network connectivity based on beacon probing."
                    "#0D#0AParameters:#0D#0A   1) Number of beacons"}}),
             db().Query("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                        "WHERE event_code BETWEEN 48 AND 51 ORDER BY event_code"));
}

// The tables the steps create take rows; the modules table is gone.
TEST_F(Upgraded69Test, NewTablesTakeRowsAndModulesIsGone)
{
   for (const char *insert : {
           "INSERT INTO policy_situation_attr_list (rule_id,situation_id,attr_name,attr_value) VALUES (1,2,'a','b')",
           "INSERT INTO situations (id,name,comments) VALUES (1,'s','c')",
           "INSERT INTO snmp_communities (id,community) VALUES (1,'public')",
           "INSERT INTO trusted_nodes (source_object_id,target_node_id) VALUES (1,2)",
           "INSERT INTO object_custom_attributes (object_id,attr_name,attr_value) VALUES (1,'a','b')",
           "INSERT INTO web_maps (id,title,properties,data) VALUES (1,'t','p','d')",
           "INSERT INTO config_clob (var_name,var_value) VALUES ('a','b')",
        })
      EXPECT_TRUE(db().Exec(insert)) << insert;
   EXPECT_FALSE(TableExists("modules"));
}

// 76 to 77: sequence numbers restart with every condition; 80 to 81:
// schedule ids run over the whole table, the texts copied as stored.
TEST_F(Upgraded69Test, RebuiltTablesNumberTheirRows)
{
   EXPECT_EQ((Rows{{"5", "0", "10", "100", "0", "1"}, {"5", "1", "11", "100", "1", "2"},
                   {"7", "0", "12", "101", "2", "3"}}),
             db().Query("SELECT condition_id,sequence_number,dci_id,node_id,dci_func,num_polls FROM cond_dci_map "
                        "ORDER BY condition_id,sequence_number"));
   EXPECT_EQ((Rows{{"1", "3", "a"}, {"2", "3", "b"}, {"3", "9", "c"}, {"4", "9", "*/5 'weekday'"}}),
             db().Query("SELECT schedule_id,item_id,schedule FROM dci_schedules ORDER BY schedule_id"));
}

// The primary keys of 80 to 81 hold everywhere but on SQLite, which cannot add one.
TEST_F(Upgraded69Test, PrimaryKeysOfStep80ExceptOnSqlite)
{
   bool keyed = db().engine() != "sqlite";
   EXPECT_EQ(!keyed, db().Exec("INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) "
                               "VALUES (1,0,0,'10.0.0.0','255.0.0.0')"));
   EXPECT_EQ(!keyed, db().Exec("INSERT INTO lpp_associations (lpp_id,node_id,log_file) VALUES (1,100,'/var/log/messages')"));
}

// What the step from 69 touches, and no more: the config table at format 69
// with the two retention periods as |stored| (nullptr: absent), and the two
// tables that get a user tag. The step from 70 then fails for want of the
// nodes table, so that a run goes through the step from 69 alone.
void MakeRetentionDatabase(TestDatabase &db, const char *const (&stored)[2])
{
   db.CreateConfigTable();
   db.SetConfig("DBFormatVersion", "69");
   const char *const names[] = {"EventLogRetentionTime", "SyslogRetentionTime"};
   for (int k = 0; k < 2; k++)
      if (stored[k] != nullptr)
         db.SetConfig(names[k], stored[k]);
   for (const char *create : {"CREATE TABLE snmp_trap_cfg (trap_id integer not null,PRIMARY KEY(trap_id))",
                              "CREATE TABLE event_log (event_id integer not null,PRIMARY KEY(event_id))"})
   {
      std::string error;
      ASSERT_TRUE(db.Exec(create, &error)) << create << "\n" << error;
   }
}

TEST(Upgrade69RetentionTest, RetentionPeriodsBecomeDays)
{
   KV_SKIP_UNLESS_ENGINE();
   struct Case
   {
      const char *stored;     // nullptr: the variable is absent
      const char *expected;
   } cases[] = {
      {nullptr, "60"},       {"172800", "2"},   {"86399", "1"},         {"0", "1"},
      {"-5184000", "1"},     {"forever", "1"},  {"0x54600", "4"},       {"2591999", "29"},
      {"99999999999", "24855"},   // beyond 32 bits: the largest period, not a wrapped one
   };
   const size_t count = sizeof(cases) / sizeof(cases[0]);
   // Two cases per run: EventLogRetentionTime and SyslogRetentionTime.
   for (size_t i = 0; i < count; i += 2)
   {
      const Case &eventLog = cases[i];
      const Case &syslog = cases[i + 1 < count ? i + 1 : i];
      SCOPED_TRACE(std::string("stored ") + (eventLog.stored ? eventLog.stored : "(absent)") + " and " +
                   (syslog.stored ? syslog.stored : "(absent)"));
      TestDatabase db;
      MakeRetentionDatabase(db, {eventLog.stored, syslog.stored});
      ToolRun run = db.Run({"upgrade"});
      ASSERT_EQ(kStart + UpgradeLines(69, 71) +
                   "SQL query failed (ERR):\nALTER TABLE nodes ADD required_polls integer\n" + kRollback,
                MaskErrors(run.out));
      ASSERT_EQ("70", db.ConfigValue("DBFormatVersion"));
      EXPECT_EQ(eventLog.expected, db.ConfigValue("EventLogRetentionTime"));
      EXPECT_EQ(syslog.expected, db.ConfigValue("SyslogRetentionTime"));
   }
}

// A step that fails after its DDL leaves its row changes undone, on MySQL too,
// where the server commits before each DDL statement: converted once more by
// the next run, a period already in days would shrink to one day.
TEST(Upgrade69RetentionTest, FailedStepLeavesThePeriodsInSeconds)
{
   KV_SKIP_UNLESS_ENGINE();
   TestDatabase db;
   MakeRetentionDatabase(db, {"172800", nullptr});
   StopUpgradeAt(db, 69);
   ToolRun run = db.Run({"upgrade"});
   ASSERT_EQ(kStart + UpgradeLines(69, 70) +
                "SQL query failed (ERR):\nUPDATE config SET var_value='70' WHERE var_name='DBFormatVersion'\n" + kRollback,
             MaskErrors(run.out));
   EXPECT_EQ("69", db.ConfigValue("DBFormatVersion"));
   EXPECT_EQ("172800", db.ConfigValue("EventLogRetentionTime"));
   EXPECT_EQ("<none>", db.ConfigValue("SyslogRetentionTime"));

   LetUpgradeGoOn(db);
   run = db.Run({"upgrade"});
   ASSERT_EQ("70", db.ConfigValue("DBFormatVersion")) << run.out;
   EXPECT_EQ("2", db.ConfigValue("EventLogRetentionTime"));
   EXPECT_EQ("60", db.ConfigValue("SyslogRetentionTime"));
}

TEST_F(Upgrade69Test, EmptyConditionMapIsRebuiltEmpty)
{
   ASSERT_TRUE(db().Exec("DELETE FROM cond_dci_map"));
   ASSERT_TRUE(db().Exec("DELETE FROM dci_schedules"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(69, 83) + kSucceeded, run.out);
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM cond_dci_map"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM dci_schedules"));
   EXPECT_TRUE(db().Exec("SELECT sequence_number FROM cond_dci_map"));
   EXPECT_TRUE(db().Exec("SELECT schedule_id FROM dci_schedules"));
}

// Stored schedules are copied by Step80To81 exactly as stored, whatever they
// hold: a backslash before a quote, or at the very end, must not end the
// literal early on an engine that reads backslash escapes, or the first would
// insert the admin's password hash as a schedule and the second break the
// insert.
TEST_F(Upgrade69Test, StoredSchedulesCannotRewriteTheCopy)
{
   const std::string injection = "x\\'),(7,999999,(SELECT CONCAT(name,0x3a,password) FROM users WHERE id=0))#";
   const std::string trailing = "0 0 * * *\\";
   auto doubled = [](std::string text) {
      for (size_t p = text.find('\''); p != std::string::npos; p = text.find('\'', p + 2))
         text.insert(p, 1, '\'');
      return text;
   };
   ASSERT_TRUE(db().Exec("DELETE FROM dci_schedules"));
   ASSERT_TRUE(db().Exec("INSERT INTO dci_schedules (item_id,schedule) VALUES (3,'" + doubled(injection) + "')"));
   ASSERT_TRUE(db().Exec("INSERT INTO dci_schedules (item_id,schedule) VALUES (9,'" + doubled(trailing) + "')"));
   // Stored as meant (the test's own connection quotes the same way).
   ASSERT_EQ((Rows{{"3", injection}, {"9", trailing}}),
             db().Query("SELECT item_id,schedule FROM dci_schedules ORDER BY item_id"));

   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(69, 83) + kSucceeded, run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ((Rows{{"3", injection}, {"9", trailing}}),
             db().Query("SELECT item_id,schedule FROM dci_schedules ORDER BY item_id"));
   EXPECT_EQ((Rows{{"1"}, {"2"}}), db().Query("SELECT schedule_id FROM dci_schedules ORDER BY schedule_id"));
}

TEST_F(Upgrade69Test, FailedStepRollsBackAndTheNextRunResumes)
{
   // Without the modules table, Step78To79 fails at "DROP TABLE modules".
   ASSERT_TRUE(db().Exec("DROP TABLE modules"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(69, 79) + "SQL query failed (ERR):\nDROP TABLE modules\n" + kRollback,
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   // Steps up to 78 stay committed; the failed one left nothing behind.
   EXPECT_EQ("78", Config("DBFormatVersion"));
   EXPECT_TRUE(TableExists("trusted_nodes"));
   // Its DELETE was rolled back, except on MySQL, where the DROP TABLE that
   // failed had committed the transaction implicitly before it ran.
   EXPECT_EQ(IsMySql() ? "<none>" : "0", Config("RetainCustomInterfaceNames"));

   // Put the table back: the next run resumes at 78.
   ASSERT_TRUE(db().Exec("CREATE TABLE modules (module_id integer not null)"));
   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(78, 83) + kSucceeded, run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("83", Config("DBFormatVersion"));
   EXPECT_EQ("<none>", Config("RetainCustomInterfaceNames"));
}

TEST_F(Upgrade69Test, RollbackUndoesTheWholeFailedStep)
{
   // Event 49 already there: Step73To74 inserts event 48, then fails on 49.
   ASSERT_TRUE(db().Exec("INSERT INTO event_cfg VALUES (49,'OLD',0,0,'old','old')"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(kStart + UpgradeLines(69, 74) +
                "SQL query failed (ERR):\nINSERT INTO event_cfg (event_code,event_name,severity,flags,message,"
                "description) VALUES (49,'SYS_EVENT_STORM_ENDED',0,1,'Event storm ended','Generated when system "
                "clears event storm condition.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A   2) Duration"
                "#0D#0A   3) Threshold')\n" +
                kRollback,
             MaskErrors(run.out));
   EXPECT_EQ("73", Config("DBFormatVersion"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM event_cfg WHERE event_code=48"));
   EXPECT_EQ("1", Config("NumberOfEventProcessors"));
   EXPECT_EQ("0", Config("EventStormThreshold"));
   EXPECT_EQ("<none>", Config("EnableEventStormDetection"));

   ASSERT_TRUE(db().Exec("DELETE FROM event_cfg WHERE event_code=49"));
   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(73, 83) + kSucceeded, run.out);
   EXPECT_EQ(0, run.exitCode);
}

TEST_F(Upgrade69Test, SkipErrorsPassesOverFailuresAndCountsThem)
{
   // Two failures: the DROP of the missing modules table, and the select of
   // the missing dci_schedules table (which then stays missing).
   ASSERT_TRUE(db().Exec("DROP TABLE modules"));
   ASSERT_TRUE(db().Exec("DROP TABLE dci_schedules"));
   ToolRun run = db().Run({"-X", "upgrade"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(kStart + UpgradeLines(69, 79) + "SQL query failed (ERR):\nDROP TABLE modules\n" + UpgradeLines(79, 81) +
                "SQL query failed:\nSELECT item_id,schedule FROM dci_schedules\n" + UpgradeLines(81, 83) +
                "2 failed SQL statements were ignored (-X)\n" + kSucceeded,
             MaskErrors(run.out));
   // Everything else of the steps took effect, also after the failures (on
   // PostgreSQL a failed statement costs only itself).
   EXPECT_EQ("83", Config("DBFormatVersion"));
   EXPECT_EQ("<none>", Config("RetainCustomInterfaceNames"));
   EXPECT_FALSE(TableExists("dci_schedules"));
   EXPECT_TRUE(TableExists("web_maps"));
   EXPECT_EQ((Rows{{"0", "43"}, {"0", "43"}}), db().Query("SELECT timeout,timeout_event FROM alarms ORDER BY alarm_id"));
}

TEST_F(Upgrade69Test, SkipErrorsWithoutFailuresSaysNothingMore)
{
   ToolRun run = db().Run({"-X", "upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(69, 83) + kSucceeded, run.out);
   EXPECT_EQ(0, run.exitCode);
}

TEST_F(Upgrade69Test, TraceShowsStatementsWithMacrosReplaced)
{
   ToolRun run = db().Run({"-t", "-I", "upgrade"});
   ASSERT_EQ(0, run.exitCode) << run.out;
   const std::string text = IsMySql() ? "text" : "varchar";
   const std::string suffix = IsMySql() ? " ENGINE=InnoDB" : "";
   // On MySQL a rebuilt table is filled under a name of its own first.
   const std::string rebuilt = IsMySql() ? "_rebuild_new" : "";
   const std::string expected[] = {
      ">>> ALTER TABLE snmp_trap_cfg ADD user_tag varchar(63)\n>>> UPDATE snmp_trap_cfg SET user_tag='#00'\n",
      ">>> SELECT var_value FROM config WHERE var_name='EventLogRetentionTime'\n",
      ">>> UPDATE config SET var_value='2' WHERE var_name='EventLogRetentionTime'\n",
      ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
      "('SyslogRetentionTime','60',1,0)\n",
      ">>> UPDATE config SET var_value='70' WHERE var_name='DBFormatVersion'\n" +
         std::string(IsMySql() ? ">>> DELETE FROM config WHERE var_name='DBUpgradeStepStarted'\n" : "") +
         "Upgrading from version 70 to 71\n",
      ">>> CREATE TABLE situations (id integer not null,name varchar(127) not null,comments " + text +
         " not null,PRIMARY KEY(id))" + suffix + "\n",
      ">>> INSERT INTO cond_dci_map" + rebuilt + " (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) "
      "VALUES (7,0,12,101,2,3)\n",
      ">>> INSERT INTO dci_schedules" + rebuilt + " (item_id,schedule_id,schedule) VALUES(9,4,'*/5 ''weekday''')\n",
      ">>> CREATE TABLE config_clob (var_name varchar(63) not null,var_value " + text +
         " not null,PRIMARY KEY(var_name))" + suffix + "\n",
      ">>> UPDATE alarms SET timeout=0,timeout_event=43\n",
   };
   for (const std::string &e : expected)
      EXPECT_NE(std::string::npos, run.out.find(e)) << "missing: " << e << "\nin:\n" << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("$SQL:")) << run.out;
   // The engine clause goes on the tables ExecCreateTable makes, and on nothing else.
   size_t engineClauses = 0;
   for (size_t p = run.out.find(" ENGINE=InnoDB\n"); p != std::string::npos; p = run.out.find(" ENGINE=InnoDB\n", p + 1))
      engineClauses++;
   EXPECT_EQ(IsMySql() ? 9u : 0u, engineClauses) << run.out;
   // The existence test of PutConfigVariable is never shown.
   EXPECT_EQ(std::string::npos, run.out.find(">>> SELECT var_value FROM config WHERE var_name='PollCountForStatusChange'"))
      << run.out;
   EXPECT_NE(std::string::npos, run.out.find(">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                                             "VALUES ('PollCountForStatusChange','1',1,1)\n"))
      << run.out;
}

TEST_F(Upgrade69Test, MySqlLongTextColumnsAndPrimaryKeys)
{
   ToolRun run = db().Run({"-t", "upgrade"});
   ASSERT_EQ(0, run.exitCode) << run.out;
   const char *columns[][2] = {
      {"users", "cert_mapping_data"},        {"user_profiles", "var_value"},   {"object_properties", "comments"},
      {"network_services", "check_request"}, {"network_services", "check_responce"},
      {"conditions", "script"},              {"container_categories", "description"},
      {"items", "transformation"},           {"event_cfg", "description"}, {"actions", "action_data"},
      {"event_policy", "comments"},          {"event_policy", "script"},   {"alarm_change_log", "info_text"},
      {"alarm_notes", "note_text"},          {"object_tools", "tool_data"}, {"syslog", "msg_text"},
      {"script_library", "script_code"},     {"snmp_trap_log", "trap_varlist"}, {"maps", "description"},
      {"agent_configs", "config_file"},      {"agent_configs", "config_filter"}, {"graphs", "config"},
      {"certificates", "cert_data"},         {"certificates", "subject"},  {"certificates", "comments"},
      {"audit_log", "message"},              {"situations", "comments"},
   };
   std::string script;
   for (const auto &c : columns)
      script += std::string(">>> ALTER TABLE ") + c[0] + " MODIFY COLUMN " + c[1] + " text not null\n";
   size_t at = run.out.find(script);
   if (!IsMySql())
   {
      EXPECT_EQ(std::string::npos, run.out.find("MODIFY COLUMN")) << run.out;
      return;
   }
   // In the order of the table, in one script right after the clean-up.
   EXPECT_NE(std::string::npos, run.out.find(">>> DROP TABLE modules\n" + script)) << run.out;
   EXPECT_NE(std::string::npos, at);
   for (const auto &c : columns)
   {
      Rows rows = db().Query(std::string("SELECT data_type,is_nullable FROM information_schema.columns WHERE "
                                         "table_schema=DATABASE() AND table_name='") + c[0] + "' AND column_name='" +
                             c[1] + "'");
      EXPECT_EQ((Rows{{"text", "NO"}}), rows) << c[0] << "." << c[1];
   }
   Rows keys = db().Query("SELECT table_name,column_name FROM information_schema.key_column_usage WHERE "
                          "table_schema=DATABASE() AND constraint_name='PRIMARY' AND table_name IN "
                          "('address_lists','lpp_associations') ORDER BY table_name,ordinal_position");
   EXPECT_EQ((Rows{{"address_lists", "list_type"}, {"address_lists", "community_id"}, {"address_lists", "addr_type"},
                   {"address_lists", "addr1"}, {"address_lists", "addr2"}, {"lpp_associations", "lpp_id"},
                   {"lpp_associations", "node_id"}, {"lpp_associations", "log_file"}}),
             keys);
}

// The columns of |table| in their order, and on MySQL each with its type.
std::vector<std::string> Columns(TestDatabase &db, const std::string &table)
{
   std::string query;
   if (db.engine() == "sqlite")
      query = "SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid";
   else if (db.engine() == "mysql")
      query = "SELECT CONCAT(column_name,' ',column_type,' ',is_nullable) FROM information_schema.columns WHERE "
              "table_schema=DATABASE() AND table_name='" + table + "' ORDER BY ordinal_position";
   else
      query = "SELECT column_name FROM information_schema.columns WHERE table_schema=current_schema() AND "
              "table_name='" + table + "' ORDER BY ordinal_position";
   std::vector<std::string> columns;
   for (const auto &row : db.Query(query))
      columns.push_back(row[0]);
   return columns;
}

// The upgraded sample has the tables of a fresh database, each with the same
// columns in the same order.
TEST_F(Upgraded69Test, EndsWithTheTablesAndColumnsOfAFreshDatabase)
{
   TestDatabase fresh;
   fresh.InitSchema();
   EXPECT_EQ(TableNames(fresh), TableNames(db()));
   for (const std::string &table : TableNames(fresh))
   {
      std::vector<std::string> expected = Columns(fresh, table);
      std::vector<std::string> actual = Columns(db(), table);
      if (db().engine() == "mysql")
      {
         // Only the long-text columns must agree in type and nullability: the
         // columns the steps add are nullable, as ALTER TABLE ADD makes them.
         auto relax = [](std::vector<std::string> &cols) {
            for (std::string &c : cols)
               if (c.find(" text ") == std::string::npos)
                  c = c.substr(0, c.find(' '));
         };
         relax(expected);
         relax(actual);
      }
      EXPECT_EQ(expected, actual) << table;
   }
}

TEST_F(Upgraded69Test, CheckAndReindexFindNothingAfterwards)
{
   ToolRun run = db().Run({"check"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Database doesn't contain any errors\nDatabase check completed\n")) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("(Y/N)")) << run.out;
   run = db().Run({"reindex"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("failed")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Database reindexing complete.\n")) << run.out;
}

}  // namespace
