// The shipped schema files and the format-14 baseline on the engine under test:
// `init` of sql/<dialect>.sql gives a database the other commands accept, and
// the baseline loads with `batch` as it stood before the first upgrade.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace {

// The dialect's file stem: "PGSQL" -> "pgsql".
std::string Stem(const std::string &syntax)
{
   std::string stem = syntax;
   std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return (char)tolower(c); });
   return stem;
}

std::string SchemaFile(const TestDatabase &db)
{
   return std::string(KV_SOURCE_DIR) + "/sql/" + Stem(db.syntax()) + ".sql";
}

std::string BaselineFile(const TestDatabase &db)
{
   return std::string(KV_SOURCE_DIR) + "/tests/fixtures/format14/" + Stem(db.syntax()) + ".sql";
}

struct TableColumns
{
   const char *table;
   const char *columns;
};

// Selects every listed column of every table without fetching rows; a missing
// table or column makes the select fail and names the case.
void ExpectColumns(TestDatabase &db, const std::vector<TableColumns> &cases)
{
   for (const TableColumns &c : cases)
   {
      std::string error;
      std::string query = std::string("SELECT ") + c.columns + " FROM " + c.table + " WHERE 1=0";
      EXPECT_TRUE(db.Exec(query, &error)) << query << ": " << error;
   }
}

// Tables that must not exist: selecting from them fails.
void ExpectNoTables(TestDatabase &db, const std::vector<const char *> &tables)
{
   for (const char *table : tables)
      EXPECT_FALSE(db.Exec(std::string("SELECT * FROM ") + table + " WHERE 1=0")) << table << " exists";
}

// The names of the indexes the engine holds, lower case.
std::vector<std::string> IndexNames(TestDatabase &db)
{
   std::string query;
   if (db.syntax() == "SQLITE")
      query = "SELECT name FROM sqlite_master WHERE type='index'";
   else if (db.syntax() == "PGSQL")
      query = "SELECT indexname FROM pg_indexes WHERE schemaname=current_schema()";
   else
      query = "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=database()";
   std::vector<std::string> names;
   for (const auto &row : db.Query(query))
      names.push_back(Stem(row[0]));
   return names;
}

// Every table at format 83 with the columns an upgraded database has. The
// checker's and reindex's tables come first; then the rest of the end state.
const std::vector<TableColumns> kFormat83 = {
   // check: object linkage, timestamps, clusters, event policy
   {"nodes", "id,primary_ip"},
   {"interfaces", "id,node_id"},
   {"network_services", "id,node_id"},
   {"object_properties",
    "object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified,status_calc_alg,"
    "status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,"
    "status_thresholds,comments,is_system"},
   {"nsmap", "subnet_id,node_id"},
   {"acl", "object_id,user_id,access_rights"},
   {"cluster_members", "cluster_id,node_id"},
   {"policy_source_list", "rule_id,object_id"},
   {"policy_event_list", "rule_id,event_code"},
   {"policy_action_list", "rule_id,action_id"},
   {"event_cfg", "event_code,event_name,severity,flags,message,description"},
   {"event_groups", "id,name,description,range_start,range_end"},
   {"actions", "action_id,action_name,action_type,is_disabled,rcpt_addr,email_subject,action_data"},
   // reindex
   {"raw_dci_values", "item_id,raw_value,last_poll_time"},
   {"event_log", "event_id,event_code,event_timestamp,event_source,event_severity,event_message,root_event_id,user_tag"},
   {"thresholds",
    "threshold_id,item_id,sequence_number,fire_value,check_function,check_operation,parameter_1,parameter_2,"
    "event_code,current_state,rearm_event_code,repeat_interval"},
   {"alarm_change_log", "change_id,change_time,alarm_id,opcode,user_id,info_text"},
   {"alarm_notes", "note_id,alarm_id,change_time,user_id,note_text"},
   {"syslog", "msg_id,msg_timestamp,facility,severity,source_object_id,hostname,msg_tag,msg_text"},
   {"snmp_trap_log", "trap_id,trap_timestamp,ip_addr,object_id,trap_oid,trap_varlist"},
   {"address_lists", "list_type,addr_type,addr1,addr2,community_id"},
   // init, the lock, the configuration
   {"config", "var_name,var_value,is_visible,need_server_restart"},
   {"config_clob", "var_name,var_value"},
   {"users",
    "id,name,password,flags,full_name,description,system_access,grace_logins,guid,auth_method,"
    "cert_mapping_method,cert_mapping_data"},
   {"user_groups", "id,name,flags,description,system_access,guid"},
   {"user_group_members", "group_id,user_id"},
   {"user_profiles", "user_id,var_name,var_value"},
   // what the upgrade steps leave
   {"nodes",
    "id,primary_ip,snmp_version,community,snmp_oid,auth_method,secret,agent_port,node_type,agent_version,"
    "platform_name,poller_node_id,node_flags,zone_guid,proxy_node,snmp_proxy,required_polls,uname"},
   {"interfaces", "id,node_id,ip_addr,ip_netmask,if_type,if_index,mac_addr,synthetic_mask,required_polls"},
   {"subnets", "id,ip_addr,ip_netmask,zone_guid,synthetic_mask"},
   {"network_services",
    "id,node_id,service_type,ip_bind_addr,ip_proto,ip_port,check_request,check_responce,poller_node_id,required_polls"},
   {"containers", "id,category,object_class"},
   {"container_members", "container_id,object_id"},
   {"container_categories", "category,name,image_id,description"},
   {"templates", "id,version"},
   {"object_custom_attributes", "object_id,attr_name,attr_value"},
   {"clusters", "id,cluster_type"},
   {"cluster_sync_subnets", "cluster_id,subnet_addr,subnet_mask"},
   {"cluster_resources", "cluster_id,resource_id,resource_name,ip_addr"},
   {"zones", "id,zone_guid,zone_type,controller_ip"},
   {"zone_ip_addr_list", "zone_id,ip_addr"},
   {"vpn_connectors", "id,node_id,peer_gateway"},
   {"vpn_connector_networks", "vpn_id,network_type,ip_addr,ip_netmask"},
   {"conditions", "id,activation_event,deactivation_event,source_object,active_status,inactive_status,script"},
   {"cond_dci_map", "condition_id,sequence_number,dci_id,node_id,dci_func,num_polls"},
   {"trusted_nodes", "source_object_id,target_node_id"},
   {"items",
    "item_id,node_id,template_id,name,description,source,datatype,polling_interval,retention_time,status,"
    "delta_calculation,transformation,instance,template_item_id,adv_schedule,all_thresholds,resource_id,proxy_node"},
   {"dci_schedules", "schedule_id,item_id,schedule"},
   {"event_group_members", "group_id,event_code"},
   {"event_policy",
    "rule_id,flags,comments,alarm_message,alarm_severity,alarm_key,script,alarm_timeout,alarm_timeout_event,"
    "situation_id,situation_instance"},
   {"policy_time_range_list", "rule_id,time_range_id"},
   {"policy_situation_attr_list", "rule_id,situation_id,attr_name,attr_value"},
   {"time_ranges", "time_range_id,wday_mask,mday_mask,month_mask,time_range"},
   {"situations", "id,name,comments"},
   {"alarms",
    "alarm_id,source_object_id,message,alarm_key,ack_by,source_event_code,source_event_id,alarm_state,hd_state,"
    "hd_ref,creation_time,last_change_time,original_severity,current_severity,repeat_count,term_by,timeout,"
    "timeout_event"},
   {"alarm_grops", "alarm_group_id,group_name"},
   {"alarm_group_map", "alarm_group_id,alarm_id"},
   {"snmp_trap_cfg", "trap_id,snmp_oid,description,event_code,user_tag"},
   {"snmp_trap_pmap", "trap_id,parameter,snmp_oid,description"},
   {"snmp_communities", "id,community"},
   {"agent_pkg", "pkg_id,pkg_name,version,platform,pkg_file,description"},
   {"agent_configs", "config_id,config_name,config_file,config_filter,sequence_number"},
   {"object_tools", "tool_id,tool_name,tool_type,tool_data,description,flags,matching_oid,confirmation_text"},
   {"object_tools_acl", "tool_id,user_id"},
   {"object_tools_table_columns", "tool_id,col_number,col_name,col_oid,col_format,col_substr"},
   {"script_library", "script_id,script_name,script_code"},
   {"maps", "map_id,map_name,description,root_object_id"},
   {"map_access_lists", "map_id,user_id,access_rights"},
   {"submaps", "map_id,submap_id,attributes"},
   {"submap_object_positions", "map_id,submap_id,object_id,x,y"},
   {"submap_links", "map_id,submap_id,object_id1,object_id2,link_type,port1,port2"},
   {"web_maps", "id,title,properties,data"},
   {"images", "image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico"},
   {"default_images", "object_class,image_id"},
   {"oid_to_type", "pair_id,snmp_oid,node_type,node_flags"},
   {"graphs", "graph_id,owner_id,name,config"},
   {"graph_acl", "graph_id,user_id,user_rights"},
   {"certificates", "cert_id,cert_type,cert_data,subject,comments"},
   {"lpp_groups", "lpp_group_id,lpp_group_name,parent_group"},
   {"lpp", "lpp_id,lpp_group_id,lpp_name,lpp_version,lpp_flags"},
   {"lpp_associations", "lpp_id,node_id,log_file"},
   {"lpp_rulesets", "ruleset_id,ruleset_name"},
   {"lpp_rules",
    "lpp_id,rule_number,ruleset_id,msg_id_start,msg_id_end,severity,source_name,msg_text_regexp,event_code"},
   {"audit_log", "record_id,timestamp,subsystem,success,user_id,workstation,object_id,message"},
};

// Tables and columns at format 14 that the upgrade steps read, change or drop.
const std::vector<TableColumns> kFormat14 = {
   {"config", "var_name,var_value,is_visible,need_server_restart"},
   {"locks", "lock_id,lock_status,owner_info"},
   {"users", "id,name,password,access,flags,full_name,description"},
   {"user_groups", "id,name,access,flags,description"},
   {"access_options", "object_id,inherit_rights"},
   {"acl", "object_id,user_id,access_rights"},
   {"nodes",
    "id,name,status,is_deleted,image_id,primary_ip,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,"
    "community,discovery_flags,inherit_access_rights,description"},
   {"interfaces", "id,name,status,is_deleted,image_id,node_id"},
   {"subnets", "id,name,status,is_deleted,image_id"},
   {"containers", "id,name,status,is_deleted,image_id,description"},
   {"container_categories", "category,description"},
   {"templates", "id,name,is_deleted,image_id,description"},
   {"nsmap", "subnet_id,node_id"},
   {"new_nodes", "id"},
   {"items", "item_id,transformation"},
   {"thresholds", "threshold_id,item_id,sequence_number"},
   {"idata_100", "item_id,idata_timestamp,idata_value"},
   {"idata_101", "item_id,idata_timestamp,idata_value"},
   {"idata_102", "item_id,idata_timestamp,idata_value"},
   {"events", "event_id,name,severity,flags,message,description"},
   {"event_groups", "id,name,description"},
   {"event_group_members", "group_id,event_id"},
   {"event_log", "event_id,event_timestamp"},
   {"event_policy", "rule_id,comments,alarm_severity,alarm_key,alarm_ack_key"},
   {"policy_source_list", "rule_id,object_id"},
   {"policy_event_list", "rule_id,event_id"},
   {"policy_action_list", "rule_id,action_id"},
   {"actions", "action_id,action_data"},
   {"alarms", "alarm_id,alarm_timestamp,source_event_id,severity,is_ack,ack_by"},
   {"alarm_notes", "note_id,alarm_id"},
   {"images", "image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico"},
   {"default_images", "object_class,image_id"},
   {"oid_to_type", "pair_id,snmp_oid,node_type,node_flags"},
};

// One database initialised from the dialect's schema file, shared by the
// tests of the suite: none of them changes what the others look at, and
// `init` runs some 400 statements one by one.
class SchemaFileTest : public ::testing::Test
{
protected:
   static void SetUpTestSuite()
   {
      std::string why;
      if (!EngineAvailable(&why))
         return;
      s_db = new TestDatabase();
      s_init = new ToolRun(s_db->Run({"init", SchemaFile(*s_db)}));
   }

   static void TearDownTestSuite()
   {
      delete s_init;
      delete s_db;
      s_init = nullptr;
      s_db = nullptr;
   }

   void SetUp() override
   {
      KV_SKIP_UNLESS_ENGINE();
      ASSERT_EQ(0, s_init->exitCode) << s_init->out;
      ASSERT_EQ(kBanner + "Initializing database...\nDatabase initialized successfully\n",
                s_init->out);
   }

   TestDatabase &db() { return *s_db; }

   static TestDatabase *s_db;
   static ToolRun *s_init;
};

TestDatabase *SchemaFileTest::s_db = nullptr;
ToolRun *SchemaFileTest::s_init = nullptr;

TEST_F(SchemaFileTest, InitSetsIdentityLockAndBuiltIns)
{
   struct Case
   {
      const char *name;
      std::string value;
   } cases[] = {
      {"DBFormatVersion", "83"},
      {"DBSyntax", db().syntax()},
      {"DBLockStatus", "UNLOCKED"},
      {"DBLockInfo", "#00"},
   };
   for (const Case &c : cases)
      EXPECT_EQ(c.value, db().Value(std::string("SELECT var_value FROM config WHERE var_name='") + c.name + "'"))
         << c.name;

   // init replaced the placeholder GUIDs with two fresh, different ones.
   std::string user = db().Value("SELECT guid FROM users WHERE id=0");
   std::string group = db().Value("SELECT guid FROM user_groups WHERE id=-2147483648");
   EXPECT_EQ(36u, user.size()) << user;
   EXPECT_EQ(36u, group.size()) << group;
   EXPECT_NE(user, group);
   EXPECT_EQ(std::string::npos, user.find("00000000-0000")) << user;
   EXPECT_EQ("admin", db().Value("SELECT name FROM users WHERE id=0"));
}

TEST_F(SchemaFileTest, TablesAndColumnsOfFormat83)
{
   ExpectColumns(db(), kFormat83);
   ExpectNoTables(db(), {"locks", "events", "access_options", "new_nodes", "modules"});
}

TEST_F(SchemaFileTest, IndexesThatReindexRebuilds)
{
   std::vector<std::string> names = IndexNames(db());
   for (const char *index : {"idx_raw_dci_values_item_id", "idx_event_log_event_timestamp", "idx_thresholds_item_id",
                             "idx_thresholds_sequence", "idx_alarm_change_log_alarm_id", "idx_alarm_notes_alarm_id",
                             "idx_syslog_msg_timestamp", "idx_snmp_trap_log_trap_timestamp",
                             "idx_address_lists_list_type"})
      EXPECT_NE(names.end(), std::find(names.begin(), names.end(), index)) << index;

   // reindex drops and re-creates every one of them without a failure.
   ToolRun run = db().Run({"reindex"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("failed")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Reindexing table raw_dci_values by (item_id)...\n")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Database reindexing complete.\n")) << run.out;
}

TEST_F(SchemaFileTest, OtherCommandsAcceptTheFreshDatabase)
{
   ToolRun check = db().Run({"check"});
   EXPECT_EQ(0, check.exitCode) << check.out;
   EXPECT_NE(std::string::npos, check.out.find("Database doesn't contain any errors\n")) << check.out;
   EXPECT_EQ(std::string::npos, check.out.find("SQL query failed")) << check.out;

   ToolRun upgrade = db().Run({"upgrade"});
   EXPECT_EQ(kBanner + "Upgrading database...\nYour database format is up to date\n", upgrade.out);

   ToolRun unlock = db().Run({"unlock"});
   EXPECT_EQ(kBanner + "Database is not locked\n", unlock.out);
}

TEST_F(SchemaFileTest, RowsTheServerNeeds)
{
   struct Case
   {
      const char *query;
      const char *value;
   } cases[] = {
      // The built-in roots, with a valid timestamp so that check passes them.
      {"SELECT name FROM object_properties WHERE object_id=1", "Entire Network"},
      {"SELECT COUNT(*) FROM object_properties WHERE last_modified=0", "0"},
      // Every event code the upgrades insert, up to the last one.
      {"SELECT event_name FROM event_cfg WHERE event_code=51", "SYS_NETWORK_CONN_RESTORED"},
      {"SELECT COUNT(*) FROM event_cfg WHERE event_code>=4000 AND event_code<5000", "12"},
      {"SELECT COUNT(*) FROM event_cfg WHERE event_code>=500 AND event_code<=506", "7"},
      // Tools 1 to 19, each open to everyone; tool 12's columns as renumbered.
      {"SELECT COUNT(*) FROM object_tools", "19"},
      {"SELECT COUNT(*) FROM object_tools_acl WHERE user_id=-2147483648", "19"},
      {"SELECT col_name FROM object_tools_table_columns WHERE tool_id=12 AND col_number=2", "Packet size"},
      {"SELECT snmp_oid FROM oid_to_type WHERE pair_id=31", ".1.3.6.1.4.1.45.3.48.*"},
      {"SELECT COUNT(*) FROM oid_to_type WHERE pair_id=14", "0"},
      {"SELECT event_code FROM snmp_trap_cfg WHERE trap_id=3", "503"},
      {"SELECT var_value FROM config WHERE var_name='EventLogRetentionTime'", "60"},
      {"SELECT var_value FROM config WHERE var_name='WindowsConsoleUpgradeURL'",
       "http://www.korvel.org/download/korvel-#25version#25.exe"},
      // Variables that later upgrades delete are not there.
      {"SELECT COUNT(*) FROM config WHERE var_name IN ('RetainCustomInterfaceNames','EventStormThreshold',"
       "'NumberOfEventProcessors','EnableAccessControl','IDataIndexCreationCommand','NewNodePollingInterval')",
       "0"},
   };
   for (const Case &c : cases)
      EXPECT_EQ(c.value, db().Value(c.query)) << c.query;

   // The collected-data index command is the dialect's own.
   std::string command = db().Value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'");
   std::string expected = db().syntax() == "MYSQL" ? "(item_id,idata_timestamp)" : "(idata_timestamp,item_id)";
   EXPECT_NE(std::string::npos, command.find(expected)) << command;
}

class BaselineTest : public EngineTest
{
};

TEST_F(BaselineTest, LoadsAsFormat14)
{
   db().CreateConfigTable();
   ToolRun run = db().Run({"batch", BaselineFile(db())});
   ASSERT_EQ(0, run.exitCode) << run.out;
   ASSERT_EQ(kBanner, run.out);

   EXPECT_EQ("14", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
   EXPECT_EQ(db().syntax(), db().Value("SELECT var_value FROM config WHERE var_name='DBSyntax'"));
   ExpectColumns(db(), kFormat14);
   // Neither the lock variables nor anything the upgrades create exists yet;
   // is_ospf comes with the format-20 upgrade.
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM config WHERE var_name IN ('DBLockStatus','DBLockInfo')"));
   ExpectNoTables(db(), {"event_cfg", "object_properties", "snmp_trap_cfg", "network_services", "raw_dci_values",
                         "cluster_members", "address_lists"});
   std::string error;
   EXPECT_FALSE(db().Exec("SELECT is_ospf FROM nodes WHERE 1=0", &error));
   EXPECT_FALSE(db().Exec("SELECT instance FROM items WHERE 1=0", &error));

   // A few rows for the upgrades to carry: nodes with their flags, the roots'
   // access rows, event templates and the policy.
   EXPECT_EQ("3", db().Value("SELECT COUNT(*) FROM nodes"));
   EXPECT_EQ("1", db().Value("SELECT is_local_mgmt FROM nodes WHERE id=101"));
   EXPECT_EQ("3", db().Value("SELECT COUNT(*) FROM access_options WHERE object_id<10"));
   EXPECT_EQ("27", db().Value("SELECT COUNT(*) FROM events"));
   EXPECT_EQ("3", db().Value("SELECT COUNT(*) FROM policy_event_list"));
   EXPECT_EQ("Entire Network", db().Value("SELECT var_value FROM config WHERE var_name='TopologyRootObjectName'"));
}

}  // namespace
