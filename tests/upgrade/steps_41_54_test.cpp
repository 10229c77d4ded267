// Upgrading from format 41 to 55, end to end: what every step leaves in the
// database, and how the re-indexing of the collected data meets missing
// tables and a node list that cannot be read.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

const std::string kStopsAt55 = NoProcedure(55);

// The tables and rows the steps from 41 read or change, as a server at
// format 41 has them, with rows chosen so that every conversion shows.
const char *const kFormat41[] = {
   "CREATE TABLE images (image_id integer not null,name varchar(63) not null,file_name_png varchar(255) not null,"
   "file_hash_png varchar(32) not null,file_name_ico varchar(255) not null,file_hash_ico varchar(32) not null,"
   "PRIMARY KEY(image_id))",
   "CREATE TABLE default_images (object_class integer not null,image_id integer not null,PRIMARY KEY(object_class))",
   "CREATE TABLE oid_to_type (pair_id integer not null,snmp_oid varchar(255) not null,node_type integer not null,"
   "node_flags integer not null,PRIMARY KEY(pair_id))",
   "CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
   "flags integer,message varchar(255),description varchar(1000),PRIMARY KEY(event_code))",
   "CREATE TABLE event_groups (id integer not null,name varchar(63) not null,description varchar(255),"
   "PRIMARY KEY(id))",
   "CREATE TABLE event_policy (rule_id integer not null,flags integer not null,PRIMARY KEY(rule_id))",
   "CREATE TABLE object_tools (tool_id integer not null,tool_name varchar(255) not null,tool_type integer not null,"
   "tool_data varchar(1000),description varchar(255),flags integer not null,matching_oid varchar(255),"
   "PRIMARY KEY(tool_id))",
   "CREATE TABLE object_tools_table_columns (tool_id integer not null,col_number integer not null,"
   "col_name varchar(255),col_oid varchar(255),col_format integer,col_substr integer,"
   "PRIMARY KEY(tool_id,col_number))",
   "CREATE TABLE object_tools_acl (tool_id integer not null,user_id integer not null,PRIMARY KEY(tool_id,user_id))",
   "CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,PRIMARY KEY(object_id))",
   "CREATE TABLE nodes (id integer not null,primary_ip varchar(15) not null,discovery_flags integer,"
   "description varchar(255),PRIMARY KEY(id))",
   "CREATE TABLE containers (id integer not null,description varchar(255),PRIMARY KEY(id))",
   "CREATE TABLE templates (id integer not null,description varchar(255),PRIMARY KEY(id))",
   "CREATE TABLE zones (zone_guid integer not null,description varchar(255),PRIMARY KEY(zone_guid))",
   "CREATE TABLE items (item_id integer not null,node_id integer not null,PRIMARY KEY(item_id))",
   "CREATE TABLE thresholds (threshold_id integer not null,item_id integer not null,event_code integer,"
   "PRIMARY KEY(threshold_id))",
   "CREATE TABLE alarms (alarm_id integer not null,source_object_id integer not null,message varchar(255),"
   "severity integer,alarm_key varchar(255),alarm_timestamp integer,is_ack integer,ack_by integer,"
   "source_event_code integer,PRIMARY KEY(alarm_id))",
   "CREATE TABLE alarm_notes (note_id integer not null,alarm_id integer not null,note_text varchar(255),"
   "PRIMARY KEY(note_id))",
   "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
   "VALUES (2,'Obj.Node','node.png','<invalid_hash>','node.ico','<invalid_hash>')",
   "INSERT INTO default_images (object_class,image_id) VALUES (2,2)",
   // Event 38 arrives at 56: being here already, it stops the run at 55
   // (see the stopper at 55).
   "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
   "VALUES (38,'SYS_TEST',0,1,'x','#00')",
   "INSERT INTO event_groups (id,name,description) VALUES (-2147483647,'Node status','#00')",
   "INSERT INTO event_policy (rule_id,flags) VALUES (0,5)",
   "INSERT INTO object_properties (object_id,name) VALUES (100,'router1')",
   "INSERT INTO nodes (id,primary_ip,discovery_flags,description) VALUES (100,'10.0.0.1',0,'Core router')",
   "INSERT INTO nodes (id,primary_ip,discovery_flags,description) VALUES (101,'10.0.0.2',0,'#00')",
   "INSERT INTO containers (id,description) VALUES (20,'Servers')",
   "INSERT INTO templates (id,description) VALUES (30,'Basic server')",
   "INSERT INTO zones (zone_guid,description) VALUES (1,'Zone 1')",
   "INSERT INTO items (item_id,node_id) VALUES (1000,100)",
   "INSERT INTO thresholds (threshold_id,item_id,event_code) VALUES (1,1000,4000)",
   // Open, acknowledged and acknowledged by another flag value.
   "INSERT INTO alarms (alarm_id,source_object_id,message,severity,alarm_key,alarm_timestamp,is_ack,ack_by,"
   "source_event_code) VALUES (1,100,'Node down',4,'NODE_DOWN_100',1136073600,0,0,28)",
   "INSERT INTO alarms (alarm_id,source_object_id,message,severity,alarm_key,alarm_timestamp,is_ack,ack_by,"
   "source_event_code) VALUES (2,101,'Node minor',1,'#00',1136073700,1,7,4)",
   "INSERT INTO alarms (alarm_id,source_object_id,message,severity,alarm_key,alarm_timestamp,is_ack,ack_by,"
   "source_event_code) VALUES (3,101,'Node major',3,'#00',1136073800,2,3,5)",
   "INSERT INTO alarm_notes (note_id,alarm_id,note_text) VALUES (1,2,'Checked')",
   // Tools 1, 2 and 4 get confirmations; 5 a column format; 12 new column
   // numbers; 8000 goes.
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (1,'&Shutdown system',1,'System.Shutdown','Shutdown target node via native agent',0,'#00')",
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (2,'&Restart system',1,'System.Restart','Restart target node via native agent',0,'#00')",
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (4,'Restart &agent',1,'Agent.Restart','Restart agent on target node',0,'#00')",
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (5,'&Info->&Switch forwarding database (FDB)',2,'Forwarding database','Show switch FDB',1,'#00')",
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (12,'&Info->ICMP targets',3,'ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*)',"
   "'Show ICMP targets',2,'#00')",
   "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid) "
   "VALUES (8000,'Test',1,'Test','Test tool',0,'#00')",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (5,0,'MAC','.1.3.6.1.2.1.17.4.3.1.1',4,0)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (5,1,'Port','.1.3.6.1.2.1.17.4.3.1.2',0,0)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (12,0,'Address','#00',3,1)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (12,1,'Name','#00',0,2)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (12,2,'Status','#00',0,3)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (12,3,'Response time','#00',0,4)",
   "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) "
   "VALUES (8000,0,'X','#00',0,1)",
   "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (12,-2147483648)",
   "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (8000,-2147483648)",
};

// Every collected-data table as the server made it: its rows, and the
// timestamp index that the earlier upgrades created under the name the
// engine keeps per table or per schema.
void AddIdataTable(TestDatabase &db, int node)
{
   std::string table = "idata_" + std::to_string(node);
   std::string index = db.engine() == "mysql" ? "idx_timestamp" : "idx_" + table + "_timestamp";
   ASSERT_TRUE(db.Exec("CREATE TABLE " + table +
                       " (item_id integer not null,idata_timestamp integer not null,idata_value varchar(255))"));
   ASSERT_TRUE(db.Exec("CREATE INDEX " + index + " ON " + table + "(idata_timestamp)"));
   ASSERT_TRUE(db.Exec("INSERT INTO " + table + " (item_id,idata_timestamp,idata_value) VALUES (1000,1136073600,'12')"));
}

class StepTest : public UpgradeTest
{
protected:
   // The dialect's index of a collected-data table after the step from 52.
   std::string NewIdataIndex(int node)
   {
      return "idx_idata_" + std::to_string(node) + (IsMySql() ? "_id_timestamp" : "_timestamp_id");
   }
   std::string IndexTemplate()
   {
      return IsMySql() ? "CREATE INDEX idx_idata_#25d_id_timestamp ON idata_#25d(item_id,idata_timestamp)"
                       : "CREATE INDEX idx_idata_#25d_timestamp_id ON idata_#25d(idata_timestamp,item_id)";
   }

   // What the fourteen steps make of the rows the baseline and the format-41
   // fixture have in common.
   void ExpectCommonConversions();
};

void StepTest::ExpectCommonConversions()
{
   // 41 to 42: conditions.
   EXPECT_EQ((Rows{{"15", "Obj.Condition", "condition.png", "<invalid_hash>", "condition.ico", "<invalid_hash>"},
                   {"16", "Obj.Cluster", "cluster.png", "<invalid_hash>", "cluster.ico", "<invalid_hash>"}}),
             db().Query("SELECT image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico FROM images "
                        "WHERE image_id IN (15,16) ORDER BY image_id"));
   EXPECT_EQ((Rows{{"13", "15"}, {"14", "16"}}),
             db().Query("SELECT object_class,image_id FROM default_images WHERE object_class IN (13,14) "
                        "ORDER BY object_class"));
   Rows oids = db().Query("SELECT pair_id,snmp_oid,node_type,node_flags FROM oid_to_type WHERE pair_id<=13 "
                          "ORDER BY pair_id");
   Rows expectedOids = {{"1", ".1.3.6.1.4.1.3224.1.*", "2", "0"}};
   int pair = 2;
   for (const char *model : {"26", "30", "31", "32", "33", "34", "35", "36", "40", "61", "46", "52"})
      expectedOids.push_back({std::to_string(pair++), std::string(".1.3.6.1.4.1.45.3.") + model + ".*", "3", "0"});
   EXPECT_EQ(expectedOids, oids);
   EXPECT_EQ((Rows{{"34", "SYS_CONDITION_ACTIVATED", "2", "1", "Condition \"%2\" activated",
                    "Default event for condition activation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A"
                    "   2) Condition object name#0D#0A   3) Previous condition status#0D#0A"
                    "   4) Current condition status"},
                   {"35", "SYS_CONDITION_DEACTIVATED", "0", "1", "Condition \"%2\" deactivated",
                    "Default event for condition deactivation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A"
                    "   2) Condition object name#0D#0A   3) Previous condition status#0D#0A"
                    "   4) Current condition status"},
                   {"36", "SYS_DB_CONN_LOST", "4", "1", "Lost connection with backend database engine",
                    "Generated if connection with backend database engine is lost.#0D#0AParameters:#0D#0A"
                    "   No message-specific parameters"},
                   {"37", "SYS_DB_CONN_RESTORED", "0", "1", "Connection with backend database engine restored",
                    "Generated when connection with backend database engine restored.#0D#0AParameters:#0D#0A"
                    "   No message-specific parameters"}}),
             db().Query("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                        "WHERE event_code BETWEEN 34 AND 37 ORDER BY event_code"));
   EXPECT_TRUE(db().Exec("INSERT INTO conditions (id,activation_event,deactivation_event,source_object,"
                         "active_status,inactive_status,script) VALUES (1,34,35,100,4,0,'#00')"));
   EXPECT_TRUE(db().Exec("INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) "
                         "VALUES (1,1000,100,0,1)"));

   // 43 to 44 and 45 to 46: the process list, the topology tables and the
   // ICMP targets, the user sessions.
   EXPECT_EQ((Rows{{"13", "&Info->&Process list", "3", "Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)", "2",
                    "", "Show list of currently running processes", "#00"},
                   {"14", "&Info->Topology table (Nortel)", "2", "Topology table", "1", "",
                    "Show topology table (Nortel protocol)", "#00"},
                   {"15", "&Info->Topology table (CDP)", "2", "Topology table", "1", "", "Show topology table (CDP)",
                    "#00"},
                   {"16", "&Info->Active &user sessions", "3",
                    "Active User Sessions#7FSystem.ActiveUserSessions#7F^\"(.*)\" \"(.*)\" \"(.*)\"", "2", "",
                    "Show list of active user sessions", "#00"}}),
             db().Query("SELECT tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,"
                        "confirmation_text FROM object_tools WHERE tool_id IN (13,14,15,16) ORDER BY tool_id"));
   EXPECT_EQ((Rows{{"13", "0", "PID", "", "0", "1"},
                   {"13", "1", "Name", "", "0", "2"},
                   {"14", "0", "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", "3", "0"},
                   {"14", "1", "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", "4", "0"},
                   {"14", "2", "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", "5", "0"},
                   {"15", "0", "Device ID", ".1.3.6.1.4.1.9.9.23.1.2.1.1.6", "0", "0"},
                   {"15", "1", "IP Address", ".1.3.6.1.4.1.9.9.23.1.2.1.1.4", "3", "0"},
                   {"15", "2", "Platform", ".1.3.6.1.4.1.9.9.23.1.2.1.1.8", "0", "0"},
                   {"15", "3", "Version", ".1.3.6.1.4.1.9.9.23.1.2.1.1.5", "0", "0"},
                   {"15", "4", "Port", ".1.3.6.1.4.1.9.9.23.1.2.1.1.7", "0", "0"},
                   {"16", "0", "User", "", "0", "1"},
                   {"16", "1", "Terminal", "", "0", "2"},
                   {"16", "2", "From", "", "0", "3"}}),
             db().Query("SELECT tool_id,col_number,col_name,col_oid,col_format,col_substr FROM "
                        "object_tools_table_columns WHERE tool_id IN (13,14,15,16) ORDER BY tool_id,col_number"));
   EXPECT_EQ((Rows{{"13", "-2147483648"}, {"14", "-2147483648"}, {"15", "-2147483648"}, {"16", "-2147483648"}}),
             db().Query("SELECT tool_id,user_id FROM object_tools_acl WHERE tool_id IN (13,14,15,16) "
                        "ORDER BY tool_id"));
   EXPECT_EQ("5", db().Value("SELECT col_format FROM object_tools_table_columns WHERE tool_id=5 AND col_number=1"));
   EXPECT_EQ("Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*) (.*)",
             db().Value("SELECT tool_data FROM object_tools WHERE tool_id=12"));

   // 49 to 50: confirmations of the tools that stop or restart something.
   EXPECT_EQ((Rows{{"1", "10", "Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be shut down. Are you sure?"},
                   {"2", "10", "Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?"},
                   {"4", "10",
                    "Korvel agent on host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?"}}),
             db().Query("SELECT tool_id,flags,confirmation_text FROM object_tools WHERE tool_id IN (1,2,4) "
                        "ORDER BY tool_id"));

   // 46 to 47: the old alarm columns and notes are gone, the new tables take rows.
   for (const char *column : {"severity", "alarm_timestamp", "is_ack"})
      EXPECT_FALSE(ColumnExists("alarms", column)) << column;
   EXPECT_FALSE(ColumnExists("nodes", "discovery_flags"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM alarm_notes"));
   EXPECT_TRUE(db().Exec("INSERT INTO alarm_notes (note_id,alarm_id,change_time,user_id,note_text) "
                         "VALUES (1,1,1136073600,0,'n')"));
   EXPECT_TRUE(db().Exec("INSERT INTO alarm_change_log (change_id,change_time,alarm_id,opcode,user_id,info_text) "
                         "VALUES (4294967296,1136073600,1,0,0,'#00')"));
   EXPECT_TRUE(db().Exec("INSERT INTO alarm_grops (alarm_group_id,group_name) VALUES (1,'g')"));
   EXPECT_TRUE(db().Exec("INSERT INTO alarm_group_map (alarm_group_id,alarm_id) VALUES (1,1)"));
   EXPECT_EQ(std::vector<std::string>{"idx_alarm_notes_alarm_id"}, IndexNames(db(), "alarm_notes"));
   EXPECT_EQ(std::vector<std::string>{"idx_alarm_change_log_alarm_id"}, IndexNames(db(), "alarm_change_log"));
   EXPECT_EQ("#00", db().Value("SELECT comments FROM object_properties WHERE object_id=100"));

   // 47 to 48, 48 to 49, 50 to 51: policy scripts, time ranges, rearm events,
   // event code ranges.
   EXPECT_EQ((Rows{{"#00"}}), db().Query("SELECT DISTINCT script FROM event_policy"));
   EXPECT_TRUE(db().Exec("INSERT INTO time_ranges (time_range_id,wday_mask,mday_mask,month_mask,time_range) "
                         "VALUES (1,62,-1,4095,'08:00-18:00')"));
   EXPECT_TRUE(db().Exec("INSERT INTO policy_time_range_list (rule_id,time_range_id) VALUES (0,1)"));
   EXPECT_FALSE(db().Exec("INSERT INTO policy_time_range_list (rule_id,time_range_id) VALUES (0,1)"));   // keyed
   EXPECT_EQ((Rows{{"0", "18"}}), db().Query("SELECT DISTINCT current_state,rearm_event_code FROM thresholds"));
   EXPECT_EQ((Rows{{"0"}}), db().Query("SELECT DISTINCT all_thresholds FROM items"));
   EXPECT_EQ((Rows{{"0", "0"}}), db().Query("SELECT DISTINCT range_start,range_end FROM event_groups"));

   // 53 to 54: address lists and their index; access control settings gone.
   EXPECT_TRUE(db().Exec("INSERT INTO address_lists (list_type,addr_type,addr1,addr2) "
                         "VALUES (1,0,'10.0.0.0','255.0.0.0')"));
   EXPECT_TRUE(db().Exec("INSERT INTO address_lists (list_type,addr_type,addr1,addr2) "
                         "VALUES (1,0,'10.0.0.0','255.0.0.0')"));   // no key: duplicates are taken
   EXPECT_EQ(std::vector<std::string>{"idx_address_lists_list_type"}, IndexNames(db(), "address_lists"));
   EXPECT_EQ("<none>", Config("EnableAccessControl"));
   EXPECT_EQ("<none>", Config("EnableEventAccessControl"));

   // 54 to 55: descriptions gone, clusters.
   for (const char *table : {"containers", "nodes", "templates", "zones"})
      EXPECT_FALSE(ColumnExists(table, "description")) << table;
   EXPECT_TRUE(db().Exec("INSERT INTO clusters (id,cluster_type) VALUES (1,0)"));
   EXPECT_TRUE(db().Exec("INSERT INTO cluster_members (cluster_id,node_id) VALUES (1,100)"));
   EXPECT_TRUE(db().Exec("INSERT INTO cluster_sync_subnets (cluster_id,subnet_addr,subnet_mask) "
                         "VALUES (1,'10.0.0.0','255.255.255.0')"));

   // The variables of the range.
   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"NumberOfConditionPollers", "10", "1,1"},
      {"ConditionPollingInterval", "60", "1,1"},
      {"DBLockPID", "0", "0,0"},
      {"MailEncoding", "iso-8859-1", "1,0"},
      {"ActiveNetworkDiscovery", "0", "1,1"},
      {"ActiveDiscoveryInterval", "7200", "1,1"},
      {"DiscoveryFilterFlags", "0", "1,0"},
      {"WindowsConsoleUpgradeURL", "http://www.korvel.org/download/korvel-#25version#25.exe", "1,0"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
   }
   EXPECT_EQ(IndexTemplate(), Config("IDataIndexCreationCommand_1"));
   EXPECT_EQ("0,1", ConfigFlags("IDataIndexCreationCommand_1"));
}

// A database at format 41 made of the tables the steps touch.
class Upgrade41Test : public StepTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      db().SetConfig("DBFormatVersion", "41");
      db().SetConfig("EnableAccessControl", "1");
      db().SetConfig("EnableEventAccessControl", "1");
      db().SetConfig("RADIUSPort", "1812");   // set by the operator: kept
      // Visible and with the old single-column command: re-created.
      db().SetConfig("IDataIndexCreationCommand_1", "CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)");
      for (const char *statement : kFormat41)
      {
         std::string error;
         ASSERT_TRUE(db().Exec(statement, &error)) << statement << "\n" << error;
      }
      AddIdataTable(db(), 100);
      AddIdataTable(db(), 101);
   }
};

TEST_F(Upgrade41Test, From41To55)
{
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(41, 53) + "Reindexing database:\n   * idata_100\n   * idata_101\n" +
                UpgradeLines(53, 55) + kStopsAt55,
             StoppedAt(run.out, 55))
      << run.err;
   EXPECT_EQ("55", Config("DBFormatVersion"));
   ExpectCommonConversions();
   EXPECT_EQ("1812", Config("RADIUSPort"));

   // Field by field: creation and change time from the timestamp, both
   // severities from the severity, the state from the acknowledgement, the
   // terminating user from the acknowledging one.
   EXPECT_EQ((Rows{{"1", "0", "0", "#00", "1136073600", "1136073600", "4", "4", "1", "0", "28"},
                   {"2", "2", "0", "#00", "1136073700", "1136073700", "1", "1", "1", "7", "4"},
                   {"3", "2", "0", "#00", "1136073800", "1136073800", "3", "3", "1", "3", "5"}}),
             db().Query("SELECT alarm_id,alarm_state,hd_state,hd_ref,creation_time,last_change_time,"
                        "original_severity,current_severity,repeat_count,term_by,source_event_code FROM alarms "
                        "ORDER BY alarm_id"));

   // 43 to 44: tool 8000 is gone with its column and access row.
   for (const char *table : {"object_tools", "object_tools_table_columns", "object_tools_acl"})
      EXPECT_EQ("0", db().Value(std::string("SELECT COUNT(*) FROM ") + table + " WHERE tool_id=8000")) << table;

   // 51 to 52: tool 12's columns 2 and 3 moved up to make room for the packet size.
   EXPECT_EQ((Rows{{"0", "Address", "3", "1"},
                   {"1", "Name", "0", "5"},
                   {"2", "Packet size", "0", "4"},
                   {"3", "Status", "0", "3"},
                   {"4", "Response time", "0", "4"}}),
             db().Query("SELECT col_number,col_name,col_format,col_substr FROM object_tools_table_columns "
                        "WHERE tool_id=12 ORDER BY col_number"));

   // 52 to 53: the old timestamp index is replaced by the dialect's, the
   // rows stay.
   for (int node : {100, 101})
      EXPECT_EQ(std::vector<std::string>{NewIdataIndex(node)}, IndexNames(db(), "idata_" + std::to_string(node)))
         << node;
   EXPECT_EQ("1", db().Value("SELECT COUNT(*) FROM idata_100"));
}

// The baseline at format 14, upgraded by the tool itself to 41 first, then on
// to 55.
TEST_F(StepTest, BaselineFrom41To55)
{
   LoadFormat14(db());
   AddUpgradeStopper(db(), 41);
   AddUpgradeStopper(db(), 55);
   ToolRun first = db().Run({"-f", "upgrade"});
   ASSERT_EQ("41", Config("DBFormatVersion")) << first.out;
   RemoveUpgradeStopper(db(), 41);

   ToolRun run = db().Run({"upgrade"});
   const std::string head = kStart + UpgradeLines(41, 53) + "Reindexing database:\n";
   ASSERT_EQ(head, run.out.substr(0, head.size())) << run.out;
   // Every node has its line, deleted ones too, in the order the engine
   // returns them (PostgreSQL puts updated rows last).
   const std::string nodes = "   * idata_100\n   * idata_101\n   * idata_102\n";
   std::vector<std::string> lines;
   for (size_t at = head.size(), end; lines.size() < 3 && (end = run.out.find('\n', at)) != std::string::npos;
        at = end + 1)
      lines.push_back(run.out.substr(at, end + 1 - at));
   ASSERT_EQ(3u, lines.size()) << run.out;
   std::sort(lines.begin(), lines.end());
   ASSERT_EQ(nodes, lines[0] + lines[1] + lines[2]) << run.out;
   const std::string rest = run.out.substr(head.size() + nodes.size());
   ASSERT_EQ(UpgradeLines(53, 55), rest.substr(0, UpgradeLines(53, 55).size())) << run.out;
   EXPECT_EQ(kStopsAt55, StoppedAt(rest.substr(UpgradeLines(53, 55).size()), 55));
   EXPECT_EQ("55", Config("DBFormatVersion"));
   ExpectCommonConversions();

   // The baseline's alarms: 1 open, 2 acknowledged.
   EXPECT_EQ((Rows{{"1", "0", "0", "#00", "1136073600", "1136073600", "3", "3", "1", "0"},
                   {"2", "2", "0", "#00", "1136073700", "1136073700", "1", "1", "1", "0"}}),
             db().Query("SELECT alarm_id,alarm_state,hd_state,hd_ref,creation_time,last_change_time,"
                        "original_severity,current_severity,repeat_count,term_by FROM alarms ORDER BY alarm_id"));
   // Tool 12 as the earlier steps made it, without a column 3: its column 2
   // moves up to make room for the packet size, column 4 stays.
   EXPECT_EQ((Rows{{"0", "IP Address", "1"},
                   {"1", "Name", "5"},
                   {"2", "Packet size", "4"},
                   {"3", "Last RTT", "2"},
                   {"4", "Average RTT", "3"}}),
             db().Query("SELECT col_number,col_name,col_substr FROM object_tools_table_columns WHERE tool_id=12 "
                        "ORDER BY col_number"));
   for (int node : {100, 101, 102})
   {
      std::vector<std::string> indexes = IndexNames(db(), "idata_" + std::to_string(node));
      EXPECT_EQ(1, std::count(indexes.begin(), indexes.end(), NewIdataIndex(node))) << node;
      EXPECT_EQ(0, std::count(indexes.begin(), indexes.end(), IsMySql() ? "idx_timestamp"
                                                                         : "idx_idata_" + std::to_string(node) +
                                                                              "_timestamp"))
         << node;
   }
}

// A database at 52 for the re-indexing step alone: nodes 5, 7 and 9, where
// node 7 has no collected-data table. address_lists being there already
// stops the run at 53.
class Reindex52Test : public StepTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      db().SetConfig("DBFormatVersion", "52");
      db().SetConfig("IDataIndexCreationCommand_1", "CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)");
      ASSERT_TRUE(db().Exec("CREATE TABLE nodes (id integer not null,PRIMARY KEY(id))"));
      for (int node : {5, 7, 9})
         ASSERT_TRUE(db().Exec("INSERT INTO nodes (id) VALUES (" + std::to_string(node) + ")"));
      AddIdataTable(db(), 5);
      AddIdataTable(db(), 9);
      ASSERT_TRUE(db().Exec("CREATE TABLE address_lists (list_type integer not null)"));
   }

   // The output of the step from 52: from its announcement up to the next.
   std::string Step52Output(const std::string &out)
   {
      size_t begin = out.find("Upgrading from version 52 to 53\n");
      size_t end = out.find("Upgrading from version 53 to 54\n");
      if (begin == std::string::npos || end == std::string::npos)
         return "<not found>\n" + out;
      return MaskErrors(out.substr(begin, end - begin));
   }
};

// Under -t: the select, the progress lines, each CREATE (the DROP is quiet),
// the missing table reported without stopping the loop, the variable
// re-created hidden (its delete quiet too) and the version.
TEST_F(Reindex52Test, TraceWithAMissingTable)
{
   ToolRun run = db().Run({"-t", "upgrade"});
   std::string create5, create7, create9, stored;
   if (IsMySql())
   {
      create5 = "CREATE INDEX idx_idata_5_id_timestamp ON idata_5(item_id,idata_timestamp)";
      create7 = "CREATE INDEX idx_idata_7_id_timestamp ON idata_7(item_id,idata_timestamp)";
      create9 = "CREATE INDEX idx_idata_9_id_timestamp ON idata_9(item_id,idata_timestamp)";
   }
   else
   {
      create5 = "CREATE INDEX idx_idata_5_timestamp_id ON idata_5(idata_timestamp,item_id)";
      create7 = "CREATE INDEX idx_idata_7_timestamp_id ON idata_7(idata_timestamp,item_id)";
      create9 = "CREATE INDEX idx_idata_9_timestamp_id ON idata_9(idata_timestamp,item_id)";
   }
   EXPECT_EQ("Upgrading from version 52 to 53\n"
             ">>> SELECT id FROM nodes\n"
             "Reindexing database:\n"
             "   * idata_5\n"
             ">>> " + create5 + "\n"
             "   * idata_7\n"
             ">>> " + create7 + "\n"
             "SQL query failed (ERR):\n" + create7 + "\n"
             "   * idata_9\n"
             ">>> " + create9 + "\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
             "('IDataIndexCreationCommand_1','" + IndexTemplate() + "',0,1)\n"
             ">>> UPDATE config SET var_value='53' WHERE var_name='DBFormatVersion'\n",
             WithoutStepMarks(Step52Output(run.out)))
      << run.out;
   EXPECT_EQ("53", Config("DBFormatVersion"));   // the step from 53 fails on address_lists
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(IndexTemplate(), Config("IDataIndexCreationCommand_1"));
   EXPECT_EQ("0,1", ConfigFlags("IDataIndexCreationCommand_1"));
   for (int node : {5, 9})
      EXPECT_EQ(std::vector<std::string>{NewIdataIndex(node)}, IndexNames(db(), "idata_" + std::to_string(node)))
         << node;
}

// The node list cannot be read: the step fails and is rolled back, under -X
// as well; nothing has changed.
TEST_F(Reindex52Test, NodeSelectFailsEvenUnderSkipErrors)
{
   ASSERT_TRUE(db().Exec("DROP TABLE nodes"));
   for (const std::vector<std::string> &args :
        {std::vector<std::string>{"upgrade"}, std::vector<std::string>{"-X", "upgrade"}})
   {
      ToolRun run = db().Run(args);
      EXPECT_EQ(kStart + "Upgrading from version 52 to 53\nSQL query failed:\nSELECT id FROM nodes\n" + kRollback,
                run.out)
         << args[0];
      EXPECT_EQ(7, run.exitCode);
      EXPECT_EQ("52", Config("DBFormatVersion"));
      EXPECT_EQ("CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)", Config("IDataIndexCreationCommand_1"));
      EXPECT_EQ("1,0", ConfigFlags("IDataIndexCreationCommand_1"));
      EXPECT_EQ(std::vector<std::string>{IsMySql() ? "idx_timestamp" : "idx_idata_5_timestamp"},
                IndexNames(db(), "idata_5"));
   }
}

}  // namespace
