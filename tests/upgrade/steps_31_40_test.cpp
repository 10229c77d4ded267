// Upgrading from format 31 to 41, end to end: the format-14 baseline brought
// to 31 by the tool itself and then through the ten steps, and a database
// holding only what those steps touch, for the cases that need a sabotaged
// table or an existing setting.
#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

const std::string kGenerating = "Generating GUIDs...\n";

// How every run without -X ends: stopped at 41 (see AddUpgradeStopper).
const std::string kStopsAt41 = NoProcedure(41);

bool IsGuid(const std::string &text)
{
   static const std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
   return std::regex_match(text, guid);
}

class Steps31To40Test : public UpgradeTest
{
protected:
   // An index exists when creating it once more fails (on MySQL too, where
   // the name is per table).
   bool IndexExists(const std::string &index, const std::string &on)
   {
      return !db().Exec("CREATE INDEX " + index + " ON " + on);
   }
};

// The format-14 baseline, brought to 31 by the tool.
class Upgrade14To41Test : public Steps31To40Test
{
protected:
   void SetUpDatabase() override
   {
      LoadFormat14(db());
      AddUpgradeStopper(db(), 31);
      AddUpgradeStopper(db(), 41);
   }

   void UpgradeTo31()
   {
      ToolRun run = db().Run({"upgrade"}, "n");
      ASSERT_EQ("31", Config("DBFormatVersion")) << run.out;
      RemoveUpgradeStopper(db(), 31);
   }
};

TEST_F(Upgrade14To41Test, From31To41)
{
   ASSERT_NO_FATAL_FAILURE(UpgradeTo31());
   ASSERT_EQ("0", Config("StatusCalculationAlgorithm"));   // as the step from 29 left it
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(31, 41) + kGenerating + kStopsAt41, StoppedAt(run.out, 41)) << run.out;
   EXPECT_EQ("41", Config("DBFormatVersion"));

   // 31 to 33: the tools byte for byte as stored, '#7F', '#22' and every '%'
   // as written; matching_oid from 35 to 36.
   EXPECT_EQ((Rows{
                {"1", "&Shutdown system", "1", "System.Shutdown", "0", "Shutdown target node via Korvel agent", "#00"},
                {"2", "&Restart system", "1", "System.Restart", "0", "Restart target node via Korvel agent", "#00"},
                {"3", "&Wakeup node", "0", "wakeup", "0", "Wakeup node using Wake-On-LAN magic packet", "#00"},
                {"4", "Restart &agent", "1", "Agent.Restart", "0", "Restart Korvel agent on target node", "#00"},
                {"5", "&Info->&Switch forwarding database (FDB)", "2", "Forwarding database", "0",
                 "Show switch forwarding database", "#00"},
                {"6", "&Connect->Open &web browser", "4", "http://%OBJECT_IP_ADDR%", "0", "Open web browser to node",
                 "#00"},
                {"7", "&Connect->Open &web browser (HTTPS)", "4", "https://%OBJECT_IP_ADDR%", "0",
                 "Open web browser to node using HTTPS", "#00"},
                {"8", "&Info->&Agent->&Subagent list", "3", "Subagent List#7FAgent.SubAgentList#7F^(.*) (.*) (.*) (.*)",
                 "0", "Show list of loaded subagents", "#00"},
                {"9", "&Info->&Agent->Supported &parameters", "3",
                 "Supported parameters#7FAgent.SupportedParameters#7F^(.*)", "0",
                 "Show list of parameters supported by agent", "#00"},
                {"10", "&Info->&Agent->Supported &enums", "3", "Supported enums#7FAgent.SupportedEnums#7F^(.*)", "0",
                 "Show list of enums supported by agent", "#00"},
                {"11", "&Info->&Agent->Supported &actions", "3",
                 "Supported actions#7FAgent.ActionList#7F^(.*) (.*) #22(.*)#22.*", "0",
                 "Show list of actions defined on agent", "#00"},
                {"12", "&Info->&Agent->Configured &ICMP targets", "3",
                 "Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*)", "0",
                 "Show list of ICMP targets configured on agent", "#00"}}),
             db().Query("SELECT tool_id,tool_name,tool_type,tool_data,flags,description,matching_oid FROM object_tools "
                        "ORDER BY tool_id"));
   Rows acl;
   for (int tool = 1; tool <= 12; tool++)
      acl.push_back({std::to_string(tool), "-2147483648"});
   EXPECT_EQ(acl, db().Query("SELECT tool_id,user_id FROM object_tools_acl ORDER BY tool_id"));
   EXPECT_EQ((Rows{{"5", "0", "MAC Address", ".1.3.6.1.2.1.17.4.3.1.1", "4", "0"},
                   {"5", "1", "Port", ".1.3.6.1.2.1.17.4.3.1.2", "1", "0"},
                   {"8", "0", "Name", "", "0", "1"},
                   {"8", "1", "Version", "", "0", "2"},
                   {"8", "2", "File", "", "0", "4"},
                   {"8", "3", "Module handle", "", "0", "3"},
                   {"9", "0", "Parameter", "", "0", "1"},
                   {"10", "0", "Parameter", "", "0", "1"},
                   {"11", "0", "Name", "", "0", "1"},
                   {"11", "1", "Type", "", "0", "2"},
                   {"11", "2", "Data", "", "0", "3"},
                   {"12", "0", "IP Address", "", "0", "1"},
                   {"12", "1", "Name", "", "0", "4"},
                   {"12", "2", "Last RTT", "", "0", "2"},
                   {"12", "4", "Average RTT", "", "0", "3"}}),
             db().Query("SELECT tool_id,col_number,col_name,col_oid,col_format,col_substr FROM "
                        "object_tools_table_columns ORDER BY tool_id,col_number"));

   // 33 to 34: schedules and syslog.
   EXPECT_EQ((Rows{{"0"}, {"0"}, {"0"}}), db().Query("SELECT adv_schedule FROM items ORDER BY item_id"));
   EXPECT_TRUE(db().Exec("INSERT INTO dci_schedules (item_id,schedule) VALUES (1000,'*/5')"));
   EXPECT_TRUE(db().Exec("INSERT INTO dci_schedules (item_id,schedule) VALUES (1000,'*/5')"));   // no key
   EXPECT_TRUE(db().Exec("INSERT INTO syslog (msg_id,msg_timestamp,facility,severity,source_object_id,hostname,"
                         "msg_tag,msg_text) VALUES (5000000000,1,1,1,100,'h','t','m')"));

   // 34 to 35: status calculation, every object with the defaults.
   EXPECT_FALSE(ColumnExists("object_properties", "status_alg"));
   Rows status = db().Query("SELECT status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
                            "status_single_threshold,status_thresholds FROM object_properties");
   ASSERT_FALSE(status.empty());
   for (const auto &row : status)
      EXPECT_EQ((std::vector<std::string>{"0", "0", "0", "0", "01020304", "75", "503C2814"}), row);

   // 35 to 36: proxy nodes.
   EXPECT_EQ((Rows{{"0"}, {"0"}, {"0"}}), db().Query("SELECT proxy_node FROM nodes ORDER BY id"));

   // 36 to 37: the script library; new nodes gone.
   EXPECT_EQ((Rows{{"1", "Filter::SNMP", "sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A"},
                   {"2", "Filter::Agent", "sub main()#0D#0A{#0D#0A   return $1->isAgent;#0D#0A}#0D#0A"},
                   {"3", "Filter::AgentOrSNMP",
                    "sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A"},
                   {"4", "DCI::SampleTransform", "sub dci_transform()#0D#0A{#0D#0A   return $1 + 1;#0D#0A}#0D#0A"}}),
             db().Query("SELECT script_id,script_name,script_code FROM script_library ORDER BY script_id"));
   EXPECT_FALSE(TableExists("new_nodes"));

   // 37 to 38: the trap log and the three time indexes.
   EXPECT_TRUE(db().Exec("INSERT INTO snmp_trap_log (trap_id,trap_timestamp,ip_addr,object_id,trap_oid,trap_varlist) "
                         "VALUES (5000000000,1,'10.0.0.1',100,'.1.3','#00')"));
   EXPECT_TRUE(IndexExists("idx_event_log_event_timestamp", "event_log(event_timestamp)"));
   EXPECT_TRUE(IndexExists("idx_syslog_msg_timestamp", "syslog(msg_timestamp)"));
   EXPECT_TRUE(IndexExists("idx_snmp_trap_log_trap_timestamp", "snmp_trap_log(trap_timestamp)"));

   // 38 to 39: maps and the script error event.
   EXPECT_EQ((Rows{{"1", "Default", "Default network map", "1"}}),
             db().Query("SELECT map_id,map_name,description,root_object_id FROM maps"));
   EXPECT_EQ((Rows{{"1", "-2147483648", "1"}}), db().Query("SELECT map_id,user_id,access_rights FROM map_access_lists"));
   EXPECT_TRUE(db().Exec("INSERT INTO submaps (map_id,submap_id,attributes) VALUES (1,1,0)"));
   EXPECT_TRUE(db().Exec("INSERT INTO submap_object_positions (map_id,submap_id,object_id,x,y) VALUES (1,1,100,5,5)"));
   EXPECT_TRUE(db().Exec("INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type) "
                         "VALUES (1,1,100,101,0)"));
   EXPECT_EQ((Rows{{"SYS_SCRIPT_ERROR", "2", "1", "Script (%1) execution error: %2",
                    "Generated when server encounters KVSL script execution error.#0D#0AParameters:#0D#0A"
                    "   1) Script name#0D#0A   2) Error text#0D#0A"
                    "   3) DCI ID if script is DCI transformation script, or 0 otherwise"}}),
             db().Query("SELECT event_name,severity,flags,message,description FROM event_cfg WHERE event_code=33"));

   // 39 to 41: every user and group with a GUID of its own.
   EXPECT_EQ((Rows{{"0", "5", "0"}, {"1", "5", "0"}}),
             db().Query("SELECT id,grace_logins,auth_method FROM users ORDER BY id"));
   Rows guids = db().Query("SELECT guid FROM users UNION ALL SELECT guid FROM user_groups");
   ASSERT_EQ(3u, guids.size());
   std::set<std::string> distinct;
   for (const auto &row : guids)
   {
      EXPECT_TRUE(IsGuid(row[0])) << row[0];
      distinct.insert(row[0]);
   }
   EXPECT_EQ(3u, distinct.size());

   // The variables, created with their flags; the old polling interval gone,
   // and the status algorithm replaced although it existed.
   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"IcmpPingSize", "46", "1,1"},
      {"SMSDrvConfig", "#00", "1,1"},
      {"EnableSyslogDaemon", "0", "1,1"},
      {"SyslogListenPort", "514", "1,1"},
      {"SyslogRetentionTime", "5184000", "1,0"},
      {"StatusCalculationAlgorithm", "1", "1,1"},
      {"StatusPropagationAlgorithm", "1", "1,1"},
      {"FixedStatusValue", "0", "1,1"},
      {"StatusShift", "0", "1,1"},
      {"StatusTranslation", "01020304", "1,1"},
      {"StatusSingleThreshold", "75", "1,1"},
      {"StatusThresholds", "503C2814", "1,1"},
      {"CapabilityExpirationTime", "604800", "1,0"},
      {"DefaultCommunityString", "gablio", "1,0"},
      {"DiscoveryFilter", "none", "1,0"},
      {"LogAllSNMPTraps", "0", "1,1"},
      {"LockTimeout", "60000", "1,1"},
      {"DisableVacuum", "0", "1,0"},
      {"RADIUSServer", "localhost", "1,0"},
      {"RADIUSSecret", "qelmar", "1,0"},
      {"RADIUSNumRetries", "5", "1,0"},
      {"RADIUSTimeout", "3", "1,0"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
   }
   EXPECT_EQ("<none>", Config("NewNodePollingInterval"));
}

// Only the tables the steps from 31 touch, at format 31.
class Upgrade31Test : public Steps31To40Test
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      db().SetConfig("DBFormatVersion", "31");
      db().SetConfig("NewNodePollingInterval", "60");
      db().SetConfig("StatusCalculationAlgorithm", "0");
      const char *const statements[] = {
         "CREATE TABLE items (item_id integer not null,node_id integer not null,name varchar(255) not null,"
         "PRIMARY KEY(item_id))",
         "INSERT INTO items (item_id,node_id,name) VALUES (1000,100,'System.CPU.Usage')",
         "CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,status_alg integer,"
         "PRIMARY KEY(object_id))",
         "INSERT INTO object_properties (object_id,name,status_alg) VALUES (100,'router1',-1)",
         "CREATE TABLE nodes (id integer not null,primary_ip varchar(15) not null,PRIMARY KEY(id))",
         "INSERT INTO nodes (id,primary_ip) VALUES (100,'10.0.0.1')",
         "CREATE TABLE new_nodes (id integer not null,ip_addr varchar(15) not null,PRIMARY KEY(id))",
         "CREATE TABLE event_log (event_id bigint not null,event_timestamp integer,PRIMARY KEY(event_id))",
         "CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
         "flags integer,message varchar(255),description varchar(2000),PRIMARY KEY(event_code))",
         "CREATE TABLE users (id integer not null,name varchar(63) not null,PRIMARY KEY(id))",
         "INSERT INTO users (id,name) VALUES (0,'admin')",
         "CREATE TABLE user_groups (id integer not null,name varchar(63) not null,PRIMARY KEY(id))",
         "INSERT INTO user_groups (id,name) VALUES (-2147483648,'Everyone')",
      };
      for (const char *statement : statements)
      {
         std::string error;
         ASSERT_TRUE(db().Exec(statement, &error)) << statement << "\n" << error;
      }
      AddUpgradeStopper(db(), 41);
   }

   // Leaves only what the step from 40 needs: it touches users, user groups
   // and the configuration alone.
   void StartAt40() { db().SetConfig("DBFormatVersion", "40"); }
};

// A setting that existed keeps its value; the status algorithm is the one
// setting deleted first, so it is created anew whatever it held.
TEST_F(Upgrade31Test, ExistingSettings)
{
   ASSERT_TRUE(db().Exec("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                         "VALUES ('DefaultCommunityString','private',0,1)"));
   ASSERT_TRUE(db().Exec("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                         "VALUES ('SyslogListenPort','1514',1,1)"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(31, 41) + kGenerating + kStopsAt41, StoppedAt(run.out, 41)) << run.out;
   EXPECT_EQ("41", Config("DBFormatVersion"));
   EXPECT_EQ("private", Config("DefaultCommunityString"));
   EXPECT_EQ("0,1", ConfigFlags("DefaultCommunityString"));
   EXPECT_EQ("1514", Config("SyslogListenPort"));
   EXPECT_EQ("1", Config("StatusCalculationAlgorithm"));
   EXPECT_EQ("1,1", ConfigFlags("StatusCalculationAlgorithm"));
}

// An index made by hand under the name the step from 37 uses: without -X the
// step fails and is rolled back; under -X the other statements still run.
TEST_F(Upgrade31Test, IndexAlreadyThere)
{
   ASSERT_TRUE(db().Exec("CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(31, 38) +
                "SQL query failed (ERR):\nCREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)\n" +
                kRollback,
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("37", Config("DBFormatVersion"));
   EXPECT_EQ("<none>", Config("LogAllSNMPTraps"));

   // Nothing stops a run under -X: what follows 41 is not looked at. On
   // MySQL the failed step is marked as started, so this run is a re-run
   // there, and an index already in place counts as done.
   run = db().Run({"-X", "upgrade"});
   const std::string before41 = OutputBefore(run.out, 41);
   const std::string passedOver = db().engine() == "mysql" ? "Already done by the interrupted run: " : "):\n";
   EXPECT_NE(std::string::npos, before41.find(passedOver + "CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)\n"
                                              "Upgrading from version 38 to 39\n"))
      << run.out;
   EXPECT_EQ(std::string::npos, before41.find("Rolling back")) << run.out;
   EXPECT_LE(41, std::stoi(Config("DBFormatVersion"))) << run.out;
   EXPECT_TRUE(IndexExists("idx_syslog_msg_timestamp", "syslog(msg_timestamp)"));
   EXPECT_TRUE(IndexExists("idx_snmp_trap_log_trap_timestamp", "snmp_trap_log(trap_timestamp)"));
   EXPECT_EQ("0", Config("LogAllSNMPTraps"));
}

// A GUID select that fails is reported and passed over without -X: the step
// goes on to the next select and the RADIUS settings, and ends at 41.
TEST_F(Upgrade31Test, FailedGuidSelectsDoNotEndTheStep)
{
   struct Case
   {
      const char *name;
      std::vector<std::string> unreadable;   // tables whose select fails (they have no id column)
   } cases[] = {
      {"users", {"users"}},
      {"user groups", {"user_groups"}},
      {"both", {"users", "user_groups"}},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      TestDatabase fresh;
      fresh.CreateConfigTable();
      fresh.SetConfig("DBFormatVersion", "40");
      AddUpgradeStopper(fresh, 41);
      auto unreadable = [&c](const std::string &table) {
         return std::find(c.unreadable.begin(), c.unreadable.end(), table) != c.unreadable.end();
      };
      std::string failures;
      for (const std::string table : {"users", "user_groups"})
      {
         const std::string key = unreadable(table) ? "member_no" : "id";
         ASSERT_TRUE(fresh.Exec("CREATE TABLE " + table + " (" + key + " integer not null,name varchar(63) not null,"
                                "PRIMARY KEY(" + key + "))"));
         ASSERT_TRUE(fresh.Exec("INSERT INTO " + table + " (" + key + ",name) VALUES (7,'x')"));
         if (unreadable(table))
            failures += "SQL query failed:\nSELECT id FROM " + table + "\n";
      }
      ToolRun run = fresh.Run({"upgrade"});
      EXPECT_EQ(kStart + UpgradeLines(40, 41) + kGenerating + failures + kStopsAt41, StoppedAt(run.out, 41));
      EXPECT_EQ("41", fresh.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
      EXPECT_EQ("qelmar", fresh.Value("SELECT var_value FROM config WHERE var_name='RADIUSSecret'"));
      // The table that could be read got its GUID all the same.
      for (const std::string table : {"users", "user_groups"})
      {
         std::string guid = fresh.Value("SELECT guid FROM " + table);
         EXPECT_EQ(!unreadable(table), IsGuid(guid)) << table << ": " << guid;
      }
   }
}

// -M puts its table type on every table of the range. On MySQL the tables
// really are MyISAM (the server's default is InnoDB); the other dialects take
// no table type and run the same statements as without it.
TEST_F(Upgrade31Test, TableTypeOnEveryNewTable)
{
   ToolRun run = db().Run({"-M", "upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(31, 41) + kGenerating + kStopsAt41, StoppedAt(run.out, 41));
   EXPECT_EQ("41", Config("DBFormatVersion"));
   if (db().engine() != "mysql")
      return;
   Rows expected;
   for (const char *table : {"dci_schedules", "map_access_lists", "maps", "object_tools", "object_tools_acl",
                             "object_tools_table_columns", "script_library", "snmp_trap_log", "submap_links",
                             "submap_object_positions", "submaps", "syslog"})
      expected.push_back({table, "MyISAM"});
   Rows tables = db().Query("SELECT table_name,engine FROM information_schema.tables WHERE "
                            "table_schema=DATABASE() AND engine='MyISAM'");
   std::sort(tables.begin(), tables.end());   // the server's collation orders '_' its own way
   EXPECT_EQ(expected, tables);
}

// What the operator sees of the step from 40 under -t; the GUIDs in the trace
// are the ones stored.
TEST_F(Upgrade31Test, TraceOfStep40To41)
{
   StartAt40();
   ToolRun run = db().Run({"-t", "upgrade"});
   std::string userGuid = db().Value("SELECT guid FROM users WHERE id=0");
   std::string groupGuid = db().Value("SELECT guid FROM user_groups WHERE id=-2147483648");
   ASSERT_TRUE(IsGuid(userGuid)) << userGuid;
   ASSERT_TRUE(IsGuid(groupGuid)) << groupGuid;
   EXPECT_NE(userGuid, groupGuid);
   const std::string config = ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ";
   EXPECT_EQ(kStart + "Upgrading from version 40 to 41\n"
                ">>> ALTER TABLE users ADD guid varchar(36)\n"
                ">>> ALTER TABLE users ADD auth_method integer\n"
                ">>> ALTER TABLE user_groups ADD guid varchar(36)\n"
                ">>> UPDATE users SET auth_method=0\n" +
                kGenerating +
                ">>> SELECT id FROM users\n"
                ">>> UPDATE users SET guid='" + userGuid + "' WHERE id=0\n"
                ">>> SELECT id FROM user_groups\n"
                ">>> UPDATE user_groups SET guid='" + groupGuid + "' WHERE id=-2147483648\n" +
                config + "('RADIUSServer','localhost',1,0)\n" +
                config + "('RADIUSSecret','qelmar',1,0)\n" +
                config + "('RADIUSNumRetries','5',1,0)\n" +
                config + "('RADIUSTimeout','3',1,0)\n"
                ">>> UPDATE config SET var_value='41' WHERE var_name='DBFormatVersion'\n" + kStopsAt41,
             WithoutStepMarks(StoppedAt(run.out, 41)));
   EXPECT_EQ("0", db().Value("SELECT auth_method FROM users"));
}

}  // namespace
