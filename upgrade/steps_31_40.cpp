// Upgrade steps from format 31 to format 41.
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "db/statements.h"
#include "lib/korvel/korvel.h"
#include "upgrade/steps.h"

namespace {

// The first object tools, for everyone. Their texts are stored as written:
// '#7F' separates the parts of a tool's data, and a '%' is a macro the server
// expands when the tool runs, never a format of ours.
const ObjectTool kAgentControlTools[] = {
   {1, "&Shutdown system", 1, "System.Shutdown", 0, nullptr, "Shutdown target node via Korvel agent"},
   {2, "&Restart system", 1, "System.Restart", 0, nullptr, "Restart target node via Korvel agent"},
   {3, "&Wakeup node", 0, "wakeup", 0, nullptr, "Wakeup node using Wake-On-LAN magic packet"},
   {4, "Restart &agent", 1, "Agent.Restart", 0, nullptr, "Restart Korvel agent on target node"},
};

const ObjectTool kInfoTools[] = {
   {5, "&Info->&Switch forwarding database (FDB)", 2, "Forwarding database", 0, nullptr,
    "Show switch forwarding database"},
   {6, "&Connect->Open &web browser", 4, "http://%OBJECT_IP_ADDR%", 0, nullptr, "Open web browser to node"},
   {7, "&Connect->Open &web browser (HTTPS)", 4, "https://%OBJECT_IP_ADDR%", 0, nullptr,
    "Open web browser to node using HTTPS"},
   {8, "&Info->&Agent->&Subagent list", 3, "Subagent List#7FAgent.SubAgentList#7F^(.*) (.*) (.*) (.*)", 0, nullptr,
    "Show list of loaded subagents"},
   {9, "&Info->&Agent->Supported &parameters", 3, "Supported parameters#7FAgent.SupportedParameters#7F^(.*)", 0,
    nullptr, "Show list of parameters supported by agent"},
   {10, "&Info->&Agent->Supported &enums", 3, "Supported enums#7FAgent.SupportedEnums#7F^(.*)", 0, nullptr,
    "Show list of enums supported by agent"},
   {11, "&Info->&Agent->Supported &actions", 3, "Supported actions#7FAgent.ActionList#7F^(.*) (.*) #22(.*)#22.*", 0,
    nullptr, "Show list of actions defined on agent"},
   {12, "&Info->&Agent->Configured &ICMP targets", 3,
    "Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*)", 0, nullptr,
    "Show list of ICMP targets configured on agent"},
};

// Tool 12 has no column 3: a later format renumbers its columns knowing that.
const ObjectToolColumn kInfoToolColumns[] = {
   {5, 0, "MAC Address", ".1.3.6.1.2.1.17.4.3.1.1", 4, 0},
   {5, 1, "Port", ".1.3.6.1.2.1.17.4.3.1.2", 1, 0},
   {8, 0, "Name", "", 0, 1},
   {8, 1, "Version", "", 0, 2},
   {8, 2, "File", "", 0, 4},
   {8, 3, "Module handle", "", 0, 3},
   {9, 0, "Parameter", "", 0, 1},
   {10, 0, "Parameter", "", 0, 1},
   {11, 0, "Name", "", 0, 1},
   {11, 1, "Type", "", 0, 2},
   {11, 2, "Data", "", 0, 3},
   {12, 0, "IP Address", "", 0, 1},
   {12, 1, "Name", "", 0, 4},
   {12, 2, "Last RTT", "", 0, 2},
   {12, 4, "Average RTT", "", 0, 3},
};

const ConfigDefault kSyslogConfig[] = {
   {"IcmpPingSize", "46", true, true},
   {"SMSDrvConfig", "", true, true},
   {"EnableSyslogDaemon", "0", true, true},
   {"SyslogListenPort", "514", true, true},
   {"SyslogRetentionTime", "5184000", true, false},
};

const ConfigDefault kStatusCalculationConfig[] = {
   {"StatusCalculationAlgorithm", "1", true, true},
   {"StatusPropagationAlgorithm", "1", true, true},
   {"FixedStatusValue", "0", true, true},
   {"StatusShift", "0", true, true},
   {"StatusTranslation", "01020304", true, true},
   {"StatusSingleThreshold", "75", true, true},
   {"StatusThresholds", "503C2814", true, true},
};

const ConfigDefault kScriptLibraryConfig[] = {
   {"DefaultCommunityString", "gablio", true, false},
   {"DiscoveryFilter", "none", true, false},
};

const EventTemplate kScriptErrorEvents[] = {
   {33, "SYS_SCRIPT_ERROR", 2, 1, "Script (%1) execution error: %2",
    "Generated when server encounters KVSL script execution error.#0D#0AParameters:#0D#0A   1) Script name#0D#0A"
    "   2) Error text#0D#0A   3) DCI ID if script is DCI transformation script, or 0 otherwise"},
};

// Each name already holds its table's, so it is the same in every dialect.
const TableIndex kTimeIndexes[] = {
   {"event_log", "event_timestamp", "idx_event_log_event_timestamp", "event_timestamp"},
   {"syslog", "msg_timestamp", "idx_syslog_msg_timestamp", "msg_timestamp"},
   {"snmp_trap_log", "trap_timestamp", "idx_snmp_trap_log_trap_timestamp", "trap_timestamp"},
};

const ConfigDefault kMapConfig[] = {
   {"LockTimeout", "60000", true, true},
   {"DisableVacuum", "0", true, false},
};

const ConfigDefault kRadiusConfig[] = {
   {"RADIUSServer", "localhost", true, false},
   {"RADIUSSecret", "qelmar", true, false},
   {"RADIUSNumRetries", "5", true, false},
   {"RADIUSTimeout", "3", true, false},
};

// Gives every row of |table| a GUID of its own. A select that fails has been
// reported and does not end the step: the rows keep no GUID, and the step
// goes on. A failed update ends it unless -X is set.
void GenerateGuids(StepRunner &step, const char *table)
{
   if (!step.ok())
      return;
   StepRows rows(ExecSelect(FormatStatement("SELECT id FROM %s", table).c_str()));
   for (int i = 0; rows && step.ok() && i < rows.count(); i++)
   {
      uuid_t guid;
      char text[64];
      uuid_generate(guid);
      step.Exec(FormatStatement("UPDATE %s SET guid='%s' WHERE id=%d", table, uuid_to_string(guid, text),
                                (int)rows.ULong(i, 0)));
   }
}

}  // namespace

void Step31To32(StepRunner &step)
{
   step.CreateTable("CREATE TABLE object_tools (tool_id integer not null,tool_name varchar(255) not null,"
                    "tool_type integer not null,tool_data $SQL:TEXT,description varchar(255),flags integer not null,"
                    "PRIMARY KEY(tool_id))");
   step.CreateTable("CREATE TABLE object_tools_acl (tool_id integer not null,user_id integer not null,"
                    "PRIMARY KEY(tool_id,user_id))");
   step.AddObjectTools(TOOL_COLUMNS_BASIC, kAgentControlTools);
}

void Step32To33(StepRunner &step)
{
   step.CreateTable("CREATE TABLE object_tools_table_columns (tool_id integer not null,col_number integer not null,"
                    "col_name varchar(255),col_oid varchar(255),col_format integer,col_substr integer,"
                    "PRIMARY KEY(tool_id,col_number))");
   step.AddObjectTools(TOOL_COLUMNS_BASIC, kInfoTools, kInfoToolColumns);
}

void Step33To34(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD adv_schedule integer\n"
               "UPDATE items SET adv_schedule=0\n"
               "<END>");
   step.CreateTable("CREATE TABLE dci_schedules (item_id integer not null,schedule varchar(255) not null)");
   step.CreateTable("CREATE TABLE syslog (msg_id $SQL:INT64 not null,msg_timestamp integer not null,"
                    "facility integer not null,severity integer not null,source_object_id integer not null,"
                    "hostname varchar(127) not null,msg_tag varchar(32) not null,msg_text $SQL:TEXT not null,"
                    "PRIMARY KEY(msg_id))");
   step.AddConfig(kSyslogConfig);
}

void Step34To35(StepRunner &step)
{
   // The old setting is deleted so that the new algorithm holds whatever the
   // old one was.
   step.Script("ALTER TABLE object_properties DROP COLUMN status_alg\n"
               "ALTER TABLE object_properties ADD status_calc_alg integer\n"
               "ALTER TABLE object_properties ADD status_prop_alg integer\n"
               "ALTER TABLE object_properties ADD status_fixed_val integer\n"
               "ALTER TABLE object_properties ADD status_shift integer\n"
               "ALTER TABLE object_properties ADD status_translation varchar(8)\n"
               "ALTER TABLE object_properties ADD status_single_threshold integer\n"
               "ALTER TABLE object_properties ADD status_thresholds varchar(8)\n"
               "UPDATE object_properties SET status_calc_alg=0,status_prop_alg=0,status_fixed_val=0,"
               "status_shift=0,status_translation='01020304',status_single_threshold=75,"
               "status_thresholds='503C2814'\n"
               "DELETE FROM config WHERE var_name='StatusCalculationAlgorithm'\n"
               "<END>");
   step.AddConfig(kStatusCalculationConfig);
}

void Step35To36(StepRunner &step)
{
   step.Script("ALTER TABLE nodes ADD proxy_node integer\n"
               "UPDATE nodes SET proxy_node=0\n"
               "ALTER TABLE object_tools ADD matching_oid varchar(255)\n"
               "UPDATE object_tools SET matching_oid='#00'\n"
               "<END>");
   step.AddConfig({"CapabilityExpirationTime", "604800", true, false});
}

void Step36To37(StepRunner &step)
{
   step.CreateTable("CREATE TABLE script_library (script_id integer not null,script_name varchar(63) not null,"
                    "script_code $SQL:TEXT not null,PRIMARY KEY(script_id))");
   step.Script("DROP TABLE new_nodes\n"
               "DELETE FROM config WHERE var_name='NewNodePollingInterval'\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (1,'Filter::SNMP',"
               "'sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (2,'Filter::Agent',"
               "'sub main()#0D#0A{#0D#0A   return $1->isAgent;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (3,'Filter::AgentOrSNMP',"
               "'sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (4,'DCI::SampleTransform',"
               "'sub dci_transform()#0D#0A{#0D#0A   return $1 + 1;#0D#0A}#0D#0A')\n"
               "<END>");
   step.AddConfig(kScriptLibraryConfig);
}

void Step37To38(StepRunner &step)
{
   step.CreateTable("CREATE TABLE snmp_trap_log (trap_id $SQL:INT64 not null,trap_timestamp integer not null,"
                    "ip_addr varchar(15) not null,object_id integer not null,trap_oid varchar(255) not null,"
                    "trap_varlist $SQL:TEXT not null,PRIMARY KEY(trap_id))");
   step.CreateIndexes(kTimeIndexes);
   step.AddConfig({"LogAllSNMPTraps", "0", true, true});
}

void Step38To39(StepRunner &step)
{
   step.CreateTable("CREATE TABLE maps\t(map_id integer not null,map_name varchar(255) not null,"
                    "description $SQL:TEXT not null,root_object_id integer not null,PRIMARY KEY(map_id))");
   step.CreateTable("CREATE TABLE map_access_lists (map_id integer not null,user_id integer not null,"
                    "access_rights integer not null,PRIMARY KEY(map_id,user_id))");
   step.CreateTable("CREATE TABLE submaps (map_id integer not null,submap_id integer not null,"
                    "attributes integer not null,PRIMARY KEY(map_id,submap_id))");
   step.CreateTable("CREATE TABLE submap_object_positions (map_id integer not null,submap_id integer not null,"
                    "object_id integer not null,x integer not null,y integer not null,"
                    "PRIMARY KEY(map_id,submap_id,object_id))");
   step.CreateTable("CREATE TABLE submap_links (map_id integer not null,submap_id integer not null,"
                    "object_id1 integer not null,object_id2 integer not null,link_type integer not null,"
                    "PRIMARY KEY(map_id,submap_id,object_id1,object_id2))");
   step.Script("INSERT INTO maps (map_id,map_name,description,root_object_id) VALUES (1,'Default',"
               "'Default network map',1)\n"
               "INSERT INTO map_access_lists (map_id,user_id,access_rights) VALUES (1,-2147483648,1)\n"
               "<END>");
   step.AddEvents(kScriptErrorEvents);
   step.AddConfig(kMapConfig);
}

void Step39To40(StepRunner &step)
{
   step.Script("ALTER TABLE users ADD grace_logins integer\n"
               "UPDATE users SET grace_logins=5\n"
               "<END>");
}

void Step40To41(StepRunner &step)
{
   step.Script("ALTER TABLE users ADD guid varchar(36)\n"
               "ALTER TABLE users ADD auth_method integer\n"
               "ALTER TABLE user_groups ADD guid varchar(36)\n"
               "UPDATE users SET auth_method=0\n"
               "<END>");
   if (step.ok())
      printf("Generating GUIDs...\n");
   GenerateGuids(step, "users");
   GenerateGuids(step, "user_groups");
   step.AddConfig(kRadiusConfig);
}

namespace {

const UpgradeStep kRows31To40[] = {
   {31, Step31To32}, {32, Step32To33}, {33, Step33To34}, {34, Step34To35}, {35, Step35To36},
   {36, Step36To37}, {37, Step37To38}, {38, Step38To39}, {39, Step39To40}, {40, Step40To41},
};

}  // namespace

const UpgradeStepRange kSteps31To40 = {kRows31To40, sizeof(kRows31To40) / sizeof(kRows31To40[0])};
