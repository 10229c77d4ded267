// Upgrade steps from format 41 to format 55.
#include <stdio.h>

#include <string>

#include "db/dialects.h"
#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"

namespace {

// The index the server creates on every collected-data table, one per
// dialect: MySQL and MSSQL put the item id first (MSSQL as the clustered
// index), the others the timestamp. Each "%d" takes the node id.
const char *const IDataIndexCreationCommands[5] = {
   "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
   "CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
};

std::string IDataIndexCreationCommand(int nodeId)
{
   std::string command = IDataIndexCreationCommands[g_nSyntax];
   std::string id = std::to_string(nodeId);
   for (size_t at; (at = command.find("%d")) != std::string::npos;)
      command.replace(at, 2, id);
   return command;
}

// An image and the object class that shows it by default.
struct ImageRow
{
   int id;
   const char *name;
   const char *pngFile;
   const char *icoFile;
   int objectClass;
};

const ImageRow kConditionImage = {15, "Obj.Condition", "condition.png", "condition.ico", 13};
const ImageRow kClusterImage = {16, "Obj.Cluster", "cluster.png", "cluster.ico", 14};

// An SNMP object id (a pattern) and the node type it stands for.
struct OidTypeRow
{
   int pairId;
   const char *oid;
   int nodeType;
};

const OidTypeRow kFirewallOids[] = {
   {1, ".1.3.6.1.4.1.3224.1.*", 2},
};

const OidTypeRow kSwitchOids[] = {
   {2, ".1.3.6.1.4.1.45.3.26.*", 3}, {3, ".1.3.6.1.4.1.45.3.30.*", 3},  {4, ".1.3.6.1.4.1.45.3.31.*", 3},
   {5, ".1.3.6.1.4.1.45.3.32.*", 3}, {6, ".1.3.6.1.4.1.45.3.33.*", 3},  {7, ".1.3.6.1.4.1.45.3.34.*", 3},
   {8, ".1.3.6.1.4.1.45.3.35.*", 3}, {9, ".1.3.6.1.4.1.45.3.36.*", 3},  {10, ".1.3.6.1.4.1.45.3.40.*", 3},
   {11, ".1.3.6.1.4.1.45.3.61.*", 3},
};

const OidTypeRow kMoreSwitchOids[] = {
   {12, ".1.3.6.1.4.1.45.3.46.*", 3},
   {13, ".1.3.6.1.4.1.45.3.52.*", 3},
};

const EventTemplate kConditionEvents[] = {
   {34, "SYS_CONDITION_ACTIVATED", 2, 1, "Condition \"%2\" activated",
    "Default event for condition activation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A"
    "   2) Condition object name#0D#0A   3) Previous condition status#0D#0A   4) Current condition status"},
   {35, "SYS_CONDITION_DEACTIVATED", 0, 1, "Condition \"%2\" deactivated",
    "Default event for condition deactivation.#0D#0AParameters:#0D#0A   1) Condition object ID#0D#0A"
    "   2) Condition object name#0D#0A   3) Previous condition status#0D#0A   4) Current condition status"},
};

const EventTemplate kDatabaseConnectionEvents[] = {
   {36, "SYS_DB_CONN_LOST", 4, 1, "Lost connection with backend database engine",
    "Generated if connection with backend database engine is lost.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
   {37, "SYS_DB_CONN_RESTORED", 0, 1, "Connection with backend database engine restored",
    "Generated when connection with backend database engine restored.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
};

const ConfigDefault kConditionConfig[] = {
   {"NumberOfConditionPollers", "10", true, true},
   {"ConditionPollingInterval", "60", true, true},
};

const ConfigDefault kActiveDiscoveryConfig[] = {
   {"ActiveNetworkDiscovery", "0", true, true},
   {"ActiveDiscoveryInterval", "7200", true, true},
   {"DiscoveryFilterFlags", "0", true, false},
};

const ObjectTool kProcessListTool = {13, "&Info->&Process list", 3, "Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)",
                                     2, "", "Show list of currently running processes"};

const ObjectTool kTopologyTools[] = {
   {14, "&Info->Topology table (Nortel)", 2, "Topology table", 1, "", "Show topology table (Nortel protocol)"},
   {15, "&Info->Topology table (CDP)", 2, "Topology table", 1, "", "Show topology table (CDP)"},
};

const ObjectTool kUserSessionsTool = {
   16, "&Info->Active &user sessions", 3,
   "Active User Sessions#7FSystem.ActiveUserSessions#7F^\"(.*)\" \"(.*)\" \"(.*)\"", 2, "",
   "Show list of active user sessions"};

const ObjectToolColumn kToolColumns[] = {
   {13, 0, "PID", "", 0, 1},
   {13, 1, "Name", "", 0, 2},
   {14, 0, "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", 3, 0},
   {14, 1, "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", 4, 0},
   {14, 2, "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", 5, 0},
   {15, 0, "Device ID", ".1.3.6.1.4.1.9.9.23.1.2.1.1.6", 0, 0},
   {15, 1, "IP Address", ".1.3.6.1.4.1.9.9.23.1.2.1.1.4", 3, 0},
   {15, 2, "Platform", ".1.3.6.1.4.1.9.9.23.1.2.1.1.8", 0, 0},
   {15, 3, "Version", ".1.3.6.1.4.1.9.9.23.1.2.1.1.5", 0, 0},
   {15, 4, "Port", ".1.3.6.1.4.1.9.9.23.1.2.1.1.7", 0, 0},
   {12, 2, "Packet size", "", 0, 4},
   {16, 0, "User", "", 0, 1},
   {16, 1, "Terminal", "", 0, 2},
   {16, 2, "From", "", 0, 3},
};

void AddImage(StepRunner &step, const ImageRow &image)
{
   step.Exec(FormatStatement("INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,"
                             "file_hash_ico) VALUES (%d,'%s','%s','<invalid_hash>','%s','<invalid_hash>')",
                             image.id, image.name, image.pngFile, image.icoFile));
   step.Exec(FormatStatement("INSERT INTO default_images (object_class,image_id) VALUES (%d,%d)", image.objectClass,
                             image.id));
}

template <size_t N>
void AddOidTypes(StepRunner &step, const OidTypeRow (&rows)[N])
{
   for (const OidTypeRow &row : rows)
      step.Exec(FormatStatement("INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES "
                                "(%d,'%s',%d,0)",
                                row.pairId, row.oid, row.nodeType));
}

// Each tool right after its own columns and followed by its access row.
void AddTool(StepRunner &step, ObjectToolColumns form, const ObjectTool &tool)
{
   step.AddObjectTools(form, &tool, 1, kToolColumns, sizeof(kToolColumns) / sizeof(kToolColumns[0]));
}

}  // namespace

void Step41To42(StepRunner &step)
{
   step.CreateTable("CREATE TABLE conditions\t(id integer not null,activation_event integer not null,"
                    "deactivation_event integer not null,source_object integer not null,"
                    "active_status integer not null,inactive_status integer not null,"
                    "script $SQL:TEXT not null,PRIMARY KEY(id))");
   step.CreateTable("CREATE TABLE cond_dci_map (condition_id integer not null,dci_id integer not null,"
                    "node_id integer not null,dci_func integer not null,num_polls integer not null,"
                    "PRIMARY KEY(condition_id,dci_id))");
   AddImage(step, kConditionImage);
   AddOidTypes(step, kFirewallOids);
   step.AddEvents(kConditionEvents);
   step.AddConfig(kConditionConfig);
}

void Step42To43(StepRunner &step)
{
   step.AddConfig({"RADIUSPort", "1645", true, false});
}

void Step43To44(StepRunner &step)
{
   step.CreateTable("CREATE TABLE agent_configs (config_id integer not null,config_name varchar(255) not null,"
                    "config_file $SQL:TEXT not null,config_filter $SQL:TEXT not null,"
                    "sequence_number integer not null,PRIMARY KEY(config_id))");
   step.Script("DELETE FROM object_tools WHERE tool_id=8000\n"
               "DELETE FROM object_tools_table_columns WHERE tool_id=8000\n"
               "DELETE FROM object_tools_acl WHERE tool_id=8000\n"
               "<END>");
   AddTool(step, TOOL_COLUMNS_MATCHING_OID, kProcessListTool);
   // Hidden: it says which process holds the lock, for the server alone.
   step.AddConfig({"DBLockPID", "0", false, false});
}

void Step44To45(StepRunner &step)
{
   step.AddEvents(kDatabaseConnectionEvents);
}

void Step45To46(StepRunner &step)
{
   step.Exec("UPDATE object_tools_table_columns SET col_format=5 WHERE tool_id=5 AND col_number=1");
   AddOidTypes(step, kSwitchOids);
   for (const ObjectTool &tool : kTopologyTools)
      AddTool(step, TOOL_COLUMNS_MATCHING_OID, tool);
}

void Step46To47(StepRunner &step)
{
   // The new alarm columns are filled from the old ones before those go. The
   // old notes do not fit the new layout and are given up.
   step.Script("ALTER TABLE object_properties ADD comments $SQL:TEXT\n"
               "UPDATE object_properties SET comments='#00'\n"
               "ALTER TABLE nodes DROP COLUMN discovery_flags\n"
               "DROP TABLE alarm_notes\n"
               "ALTER TABLE alarms ADD alarm_state integer\n"
               "ALTER TABLE alarms ADD hd_state integer\n"
               "ALTER TABLE alarms ADD hd_ref varchar(63)\n"
               "ALTER TABLE alarms ADD creation_time integer\n"
               "ALTER TABLE alarms ADD last_change_time integer\n"
               "ALTER TABLE alarms ADD original_severity integer\n"
               "ALTER TABLE alarms ADD current_severity integer\n"
               "ALTER TABLE alarms ADD repeat_count integer\n"
               "ALTER TABLE alarms ADD term_by integer\n"
               "UPDATE alarms SET hd_state=0,hd_ref='#00',creation_time=alarm_timestamp,"
               "last_change_time=alarm_timestamp,original_severity=severity,current_severity=severity,"
               "repeat_count=1,term_by=ack_by\n"
               "UPDATE alarms SET alarm_state=0 WHERE is_ack=0\n"
               "UPDATE alarms SET alarm_state=2 WHERE is_ack<>0\n"
               "ALTER TABLE alarms DROP COLUMN severity\n"
               "ALTER TABLE alarms DROP COLUMN alarm_timestamp\n"
               "ALTER TABLE alarms DROP COLUMN is_ack\n"
               "ALTER TABLE thresholds ADD current_state integer\n"
               "UPDATE thresholds SET current_state=0\n"
               "<END>");
   step.CreateTable("CREATE TABLE alarm_notes (note_id integer not null,alarm_id integer not null,"
                    "change_time integer not null,user_id integer not null,note_text $SQL:TEXT not null,"
                    "PRIMARY KEY(note_id))");
   step.CreateTable("CREATE TABLE alarm_change_log\t(change_id $SQL:INT64 not null,change_time integer not null,"
                    "alarm_id integer not null,opcode integer not null,user_id integer not null,"
                    "info_text $SQL:TEXT not null,PRIMARY KEY(change_id))");
   // The server knows the table by this name.
   step.CreateTable("CREATE TABLE alarm_grops (alarm_group_id integer not null,group_name varchar(255) not null,"
                    "PRIMARY KEY(alarm_group_id))");
   step.CreateTable("CREATE TABLE alarm_group_map (alarm_group_id integer not null,alarm_id integer not null,"
                    "PRIMARY KEY(alarm_group_id,alarm_id))");
   step.Script("CREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id)\n"
               "CREATE INDEX idx_alarm_change_log_alarm_id ON alarm_change_log(alarm_id)\n"
               "<END>");
}

void Step47To48(StepRunner &step)
{
   step.Script("ALTER TABLE event_policy ADD script $SQL:TEXT\n"
               "UPDATE event_policy SET script='#00'\n"
               "<END>");
   step.CreateTable("CREATE TABLE policy_time_range_list (rule_id integer not null,time_range_id integer not null,"
                    "PRIMARY KEY(rule_id,time_range_id))");
   step.CreateTable("CREATE TABLE time_ranges (time_range_id integer not null,wday_mask integer not null,"
                    "mday_mask integer not null,month_mask integer not null,time_range varchar(255) not null,"
                    "PRIMARY KEY(time_range_id))");
}

void Step48To49(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD all_thresholds integer\n"
               "UPDATE items SET all_thresholds=0\n"
               "ALTER TABLE thresholds ADD rearm_event_code integer\n"
               "UPDATE thresholds SET rearm_event_code=18\n"
               "<END>");
}

void Step49To50(StepRunner &step)
{
   step.Script("ALTER TABLE object_tools ADD confirmation_text varchar(255)\n"
               "UPDATE object_tools SET confirmation_text='#00'\n"
               "UPDATE object_tools SET flags=10 WHERE tool_id=1 OR tool_id=2 OR tool_id=4\n"
               "UPDATE object_tools SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) "
               "will be shut down. Are you sure?' WHERE tool_id=1\n"
               "UPDATE object_tools SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) "
               "will be restarted. Are you sure?' WHERE tool_id=2\n"
               "UPDATE object_tools SET confirmation_text='Korvel agent on host #25OBJECT_NAME#25 "
               "(#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?' WHERE tool_id=4\n"
               "<END>");
}

void Step50To51(StepRunner &step)
{
   // range_END and range_end are one column: unquoted names ignore case.
   step.Script("ALTER TABLE event_groups ADD range_start integer\n"
               "ALTER TABLE event_groups ADD range_END integer\n"
               "UPDATE event_groups SET range_start=0,range_end=0\n"
               "<END>");
}

void Step51To52(StepRunner &step)
{
   // Tool 12's columns 2 and 3 move up one, the highest first, so that no
   // number is ever held twice; the new column 2 goes in afterwards.
   step.Script("UPDATE object_tools SET tool_data='Configured ICMP targets#7FICMP.TargetList#7F"
               "^(.*) (.*) (.*) (.*) (.*)' WHERE tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_number=4 WHERE col_number=3 AND tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_number=3 WHERE col_number=2 AND tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_substr=5 WHERE col_number=1 AND tool_id=12\n"
               "<END>");
   for (const ObjectToolColumn &column : kToolColumns)
      if (column.toolId == 12)
         step.AddObjectToolColumn(column);
   AddTool(step, TOOL_COLUMNS_CONFIRMATION, kUserSessionsTool);
   step.AddConfig({"MailEncoding", "iso-8859-1", true, false});
}

void Step52To53(StepRunner &step)
{
   {
      // Without the node list not one table can be re-indexed: the step
      // fails, -X or not.
      StepRows nodes = step.Select("SELECT id FROM nodes");
      if (!nodes)
      {
         step.Fail();
         return;
      }
      printf("Reindexing database:\n");
      for (int i = 0; i < nodes.count(); i++)
      {
         int id = (int)nodes.ULong(i, 0);
         printf("   * idata_%d\n", id);
         fflush(stdout);
         // The old index may never have been made; where index names are
         // per schema it was made under the table's name.
         std::string table = "idata_" + std::to_string(id);
         step.DropIndexQuietly(IndexName(table.c_str(), "timestamp", "idx_timestamp").c_str(), table.c_str());
         // A node without its table (or an index the engine refuses) is
         // reported and left behind; the other nodes still get theirs.
         ExecStatement(IDataIndexCreationCommand(id).c_str());
      }
   }
   // Created anew, so that it is hidden whatever it was before.
   step.ExecQuiet("DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'");
   step.AddConfig({"IDataIndexCreationCommand_1", IDataIndexCreationCommands[g_nSyntax], false, true});
}

void Step53To54(StepRunner &step)
{
   step.CreateTable("CREATE TABLE address_lists (list_type integer not null,addr_type integer not null,"
                    "addr1 varchar(15) not null,addr2 varchar(15) not null)");
   step.Script("CREATE INDEX idx_address_lists_list_type ON address_lists(list_type)\n"
               "DELETE FROM config WHERE var_name='EnableAccessControl'\n"
               "DELETE FROM config WHERE var_name='EnableEventAccessControl'\n"
               "<END>");
   step.AddConfig(kActiveDiscoveryConfig);
}

void Step54To55(StepRunner &step)
{
   step.Script("ALTER TABLE containers DROP COLUMN description\n"
               "ALTER TABLE nodes DROP COLUMN description\n"
               "ALTER TABLE templates DROP COLUMN description\n"
               "ALTER TABLE zones DROP COLUMN description\n"
               "<END>");
   AddImage(step, kClusterImage);
   AddOidTypes(step, kMoreSwitchOids);
   step.CreateTable("CREATE TABLE clusters (id integer not null,cluster_type integer not null,PRIMARY KEY(id))");
   step.CreateTable("CREATE TABLE cluster_members (cluster_id integer not null,node_id integer not null,"
                    "PRIMARY KEY(cluster_id,node_id))");
   step.CreateTable("CREATE TABLE cluster_sync_subnets (cluster_id integer not null,subnet_addr varchar(15) not null,"
                    "subnet_mask varchar(15) not null,PRIMARY KEY(cluster_id,subnet_addr))");
   step.AddConfig({"WindowsConsoleUpgradeURL", "http://www.korvel.org/download/korvel-%version%.exe", true, false});
}

namespace {

const UpgradeStep kRows41To54[] = {
   {41, Step41To42}, {42, Step42To43}, {43, Step43To44}, {44, Step44To45}, {45, Step45To46},
   {46, Step46To47}, {47, Step47To48}, {48, Step48To49}, {49, Step49To50}, {50, Step50To51},
   {51, Step51To52}, {52, Step52To53}, {53, Step53To54}, {54, Step54To55},
};

}  // namespace

const UpgradeStepRange kSteps41To54 = {kRows41To54, sizeof(kRows41To54) / sizeof(kRows41To54[0])};
