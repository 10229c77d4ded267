// Upgrade steps from format 55 to format 69.
#include <stdio.h>

#include <string>

#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"

namespace {

const EventTemplate kClusterEvents[] = {
   {38, "SYS_CLUSTER_RESOURCE_MOVED", 1, 1, "Cluster resource \"%2\" moved from node %4 to node %6",
    "Generated when cluster resource moved between nodes.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A"
    "   2) Resource name#0D#0A   3) Previous owner node ID#0D#0A   4) Previous owner node name#0D#0A"
    "   5) New owner node ID#0D#0A   6) New owner node name"},
   {39, "SYS_CLUSTER_RESOURCE_DOWN", 3, 1, "Cluster resource \"%2\" is down (last owner was %4)",
    "Generated when cluster resource goes down.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A"
    "   2) Resource name#0D#0A   3) Last owner node ID#0D#0A   4) Last owner node name"},
   {40, "SYS_CLUSTER_RESOURCE_UP", 0, 1, "Cluster resource \"%2\" is up (new owner is %4)",
    "Generated when cluster resource goes up.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A"
    "   2) Resource name#0D#0A   3) New owner node ID#0D#0A   4) New owner node name"},
   {41, "SYS_CLUSTER_DOWN", 4, 1, "Cluster is down",
    "Generated when cluster goes down.#0D#0AParameters:#0D#0A   No message-specific parameters"},
   {42, "SYS_CLUSTER_UP", 0, 1, "Cluster is up",
    "Generated when cluster goes up.#0D#0AParameters:#0D#0A   No message-specific parameters"},
};

const EventTemplate kAlarmTimeoutAndLogEvents[] = {
   {43, "SYS_ALARM_TIMEOUT", 1, 1, "Alarm timeout expired (ID: %1; Text: %2)",
    "Generated when alarm timeout expires.#0D#0AParameters:#0D#0A   1) Alarm ID#0D#0A   2) Alarm message#0D#0A"
    "   3) Alarm key#0D#0A   4) Event code"},
   {44, "SYS_LOG_RECORD_MATCHED", 1, 1, "Log record matched (Policy: %1; File: %2; Record: %4)",
    "Default event for log record match.#0D#0AParameters:#0D#0A   1) Policy name#0D#0A   2) Log file name#0D#0A"
    "   3) Matching regular expression#0D#0A   4) Matched record#0D#0A   5 .. 9) Reserved#0D#0A"
    "   10 .. 99) Substrings extracted by regular expression"},
};

const EventTemplate kInterfaceStateEvents[] = {
   {45, "SYS_IF_UNKNOWN", 1, 1, "Interface \"%2\" changed state to UNKNOWN (IP Addr: %3/%4, IfIndex: %5)",
    "Generated when interface goes to unknown state.#0D#0APlease note that source of event is node, not an "
    "interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A"
    "   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
   {46, "SYS_IF_DISABLED", 0, 1, "Interface \"%2\" disabled (IP Addr: %3/%4, IfIndex: %5)",
    "Generated when interface administratively disabled.#0D#0APlease note that source of event is node, not an "
    "interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A"
    "   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
   {47, "SYS_IF_TESTING", 0, 1, "Interface \"%2\" is testing (IP Addr: %3/%4, IfIndex: %5)",
    "Generated when interface goes to testing state.#0D#0APlease note that source of event is node, not an "
    "interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A"
    "   3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
};

// Tool 14 is re-inserted under its old id: it keeps the access rows it had.
const ObjectTool kTopologyTool[] = {
   {14, "&Info->Topology table (Nortel)", 2, "Topology table", 1, " ", "Show topology table (Nortel protocol)"},
};

const ObjectTool kArpAndRoutingTools[] = {
   {17, "&Info->AR&P cache (SNMP)", 2, "ARP Cache", 1, " ", "Show ARP cache"},
   {18, "&Info->AR&P cache (Agent)", 3, "ARP Cache#7FNet.ArpCache#7F(.*) (.*) (.*)", 2, " ", "Show ARP cache"},
   {19, "&Info->&Routing table (SNMP)", 2, "Routing Table", 1, " ", "Show IP routing table"},
};

const ObjectToolColumn kToolColumns[] = {
   {14, 0, "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", 3, 0},
   {14, 1, "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", 4, 0},
   {14, 2, "Slot", ".1.3.6.1.4.1.45.1.6.13.2.1.1.1", 1, 0},
   {14, 3, "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", 1, 0},
   {17, 0, "IP Address", ".1.3.6.1.2.1.4.22.1.3", 3, 0},
   {17, 1, "MAC Address", ".1.3.6.1.2.1.4.22.1.2", 4, 0},
   {17, 2, "Interface", ".1.3.6.1.2.1.4.22.1.1", 5, 0},
   {18, 0, "IP Address", ".1.3.6.1.2.1.4.22.1.3", 0, 2},
   {18, 1, "MAC Address", ".1.3.6.1.2.1.4.22.1.2", 0, 1},
   {18, 2, "Interface", ".1.3.6.1.2.1.4.22.1.1", 5, 3},
   {19, 0, "Destination", ".1.3.6.1.2.1.4.21.1.1", 3, 0},
   {19, 1, "Mask", ".1.3.6.1.2.1.4.21.1.11", 3, 0},
   {19, 2, "Next hop", ".1.3.6.1.2.1.4.21.1.7", 3, 0},
   {19, 3, "Metric", ".1.3.6.1.2.1.4.21.1.3", 1, 0},
   {19, 4, "Interface", ".1.3.6.1.2.1.4.21.1.2", 5, 0},
};

const ConfigDefault kTopologyConfig[] = {
   {"TopologyExpirationTime", "900", true, false},
   {"TopologyDiscoveryRadius", "3", true, false},
};

const ConfigDefault kAuditConfig[] = {
   {"EnableAuditLog", "1", true, true},
   {"AuditLogRetentionTime", "90", true, false},
};

// Device types recognised by the object id of their SNMP agent: switches
// (node type 3), then routing switches (node type 4).
struct OidToType
{
   int pairId;
   const char *oid;
   int nodeType;
   int nodeFlags;
};

const OidToType kSwitchOids[] = {
   {15, ".1.3.6.1.4.1.45.3.29.*", 3, 0}, {16, ".1.3.6.1.4.1.45.3.41.*", 3, 0},
   {17, ".1.3.6.1.4.1.45.3.45.*", 3, 0}, {18, ".1.3.6.1.4.1.45.3.43.*", 3, 0},
   {19, ".1.3.6.1.4.1.45.3.57.*", 3, 0}, {20, ".1.3.6.1.4.1.45.3.49.*", 3, 0},
   {21, ".1.3.6.1.4.1.45.3.54.*", 3, 0}, {22, ".1.3.6.1.4.1.45.3.63.*", 3, 0},
   {23, ".1.3.6.1.4.1.45.3.64.*", 3, 0}, {24, ".1.3.6.1.4.1.45.3.53.*", 3, 0},
   {25, ".1.3.6.1.4.1.45.3.59.*", 3, 0}, {26, ".1.3.6.1.4.1.45.3.39.*", 3, 0},
   {27, ".1.3.6.1.4.1.45.3.65.*", 3, 0}, {28, ".1.3.6.1.4.1.45.3.66.*", 3, 0},
   {29, ".1.3.6.1.4.1.45.3.44.*", 4, 0}, {30, ".1.3.6.1.4.1.45.3.47.*", 4, 0},
   {31, ".1.3.6.1.4.1.45.3.48.*", 4, 0},
};

// MySQL and MSSQL re-declare the whole column: without "not null" the column
// would silently become nullable. Oracle changes only what it is told (and
// refuses "not null" on a column that already is).
const char kWidenCommunityMysql[] = "ALTER TABLE nodes MODIFY community varchar(127) not null";
const char kWidenCommunityOracle[] = "ALTER TABLE nodes MODIFY community varchar(127)";
const char kWidenCommunityMssql[] = "ALTER TABLE nodes ALTER COLUMN community varchar(127) not null";
const char kWidenCommunityPgsql[] = "ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)";

// Servers too old for ALTER COLUMN ... TYPE get the column rebuilt under its
// old name instead.
const char kWidenCommunityPgsqlFallback[] =
   "ALTER TABLE nodes ADD new_community varchar(127)\n"
   "UPDATE nodes SET new_community=community\n"
   "ALTER TABLE nodes DROP COLUMN community\n"
   "ALTER TABLE nodes RENAME COLUMN new_community TO community\n"
   "ALTER TABLE nodes ALTER COLUMN community SET NOT NULL\n"
   "<END>";

}  // namespace

void Step55To56(StepRunner &step)
{
   step.AddEvents(kClusterEvents);
   step.CreateTable("CREATE TABLE cluster_resources (cluster_id integer not null,resource_id integer not null,"
                    "resource_name varchar(255) not null,ip_addr varchar(15) not null,"
                    "PRIMARY KEY(cluster_id,resource_id))");
}

void Step56To57(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD resource_id integer\n"
               "UPDATE items SET resource_id=0\n"
               "ALTER TABLE nodes ADD snmp_proxy integer\n"
               "UPDATE nodes SET snmp_proxy=0\n"
               "<END>");
}

void Step57To58(StepRunner &step)
{
   step.Script("ALTER TABLE object_properties ADD is_system integer\n"
               "UPDATE object_properties SET is_system=0\n"
               "<END>");
   step.CreateTable("CREATE TABLE graphs (graph_id integer not null,owner_id integer not null,"
                    "name varchar(255) not null,config $SQL:TEXT not null,PRIMARY KEY(graph_id))");
   step.CreateTable("CREATE TABLE graph_acl (graph_id integer not null,user_id integer not null,"
                    "user_rights integer not null,PRIMARY KEY(graph_id,user_id))");
}

void Step58To59(StepRunner &step)
{
   step.Script("ALTER TABLE users ADD cert_mapping_method integer\n"
               "ALTER TABLE users ADD cert_mapping_data $SQL:TEXT\n"
               "UPDATE users SET cert_mapping_method=0\n"
               "UPDATE users SET cert_mapping_data='#00'\n"
               "<END>");
   step.AddConfig({"InternalCA", "0", true, true});
}

void Step59To60(StepRunner &step)
{
   step.CreateTable("CREATE TABLE certificates (cert_id integer not null,cert_type integer not null,"
                    "cert_data $SQL:TEXT not null,subject $SQL:TEXT not null,comments $SQL:TEXT not null,"
                    "PRIMARY KEY(cert_id))");
   step.AddConfig({"SNMPRequestTimeout", "2000", true, true});
}

void Step60To61(StepRunner &step)
{
   step.Script("DELETE FROM object_tools WHERE tool_id=14\n"
               "DELETE FROM object_tools_table_columns WHERE tool_id=14\n"
               "<END>");
   step.AddObjectToolsKeepingAccess(TOOL_COLUMNS_CONFIRMATION, kTopologyTool, kToolColumns);
   step.AddObjectTools(TOOL_COLUMNS_CONFIRMATION, kArpAndRoutingTools, kToolColumns);
   step.AddConfig(kTopologyConfig);
}

void Step61To62(StepRunner &step)
{
   // Rules that terminate alarms (severity 6) named the alarms to end by
   // their acknowledgement key; from now on that is their alarm key.
   step.Script("UPDATE event_policy SET alarm_key=alarm_ack_key WHERE alarm_severity=6\n"
               "ALTER TABLE event_policy DROP COLUMN alarm_ack_key\n"
               "ALTER TABLE event_policy ADD alarm_timeout integer\n"
               "ALTER TABLE event_policy ADD alarm_timeout_event integer\n"
               "UPDATE event_policy SET alarm_timeout=0,alarm_timeout_event=43\n"
               "ALTER TABLE alarms ADD timeout integer\n"
               "ALTER TABLE alarms ADD timeout_event integer\n"
               "UPDATE alarms SET timeout=0,timeout_event=43\n"
               "<END>");
   step.AddEvents(kAlarmTimeoutAndLogEvents);
   step.CreateTable("CREATE TABLE lpp_groups (lpp_group_id integer not null,lpp_group_name varchar(63) not null,"
                    "parent_group integer not null,PRIMARY KEY(lpp_group_id))");
   step.CreateTable("CREATE TABLE lpp (lpp_id integer not null,lpp_group_id integer not null,"
                    "lpp_name varchar(63) not null,lpp_version integer not null,lpp_flags integer not null,"
                    "PRIMARY KEY(lpp_id))");
   step.CreateTable("CREATE TABLE lpp_associations (lpp_id integer not null,node_id integer not null,"
                    "log_file varchar(255) not null)");
   step.CreateTable("CREATE TABLE lpp_rulesets (ruleset_id integer not null,ruleset_name varchar(63),"
                    "PRIMARY KEY(ruleset_id))");
   step.CreateTable("CREATE TABLE lpp_rules (lpp_id integer not null,rule_number integer not null,"
                    "ruleset_id integer not null,msg_id_start integer not null,msg_id_end integer not null,"
                    "severity integer not null,source_name varchar(255) not null,"
                    "msg_text_regexp varchar(255) not null,event_code integer not null,"
                    "PRIMARY KEY(lpp_id,rule_number))");
}

void Step62To63(StepRunner &step)
{
   step.AddEvents(kInterfaceStateEvents);
}

void Step63To64(StepRunner &step)
{
   std::string script;
   for (const OidToType &pair : kSwitchOids)
      script += FormatStatement("INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (%d,'%s',%d,%d)\n",
                                pair.pairId, pair.oid, pair.nodeType, pair.nodeFlags);
   script += "<END>";
   step.Script(script.c_str());
}

void Step64To65(StepRunner &step)
{
   switch (g_nSyntax)
   {
      case DB_SYNTAX_MYSQL:
         step.Exec(kWidenCommunityMysql);
         break;
      case DB_SYNTAX_ORACLE:
         step.Exec(kWidenCommunityOracle);
         break;
      case DB_SYNTAX_MSSQL:
         step.Exec(kWidenCommunityMssql);
         break;
      case DB_SYNTAX_PGSQL:
         // The direct form may fail: nothing is reported then, the fallback runs.
         if (!step.ok())
            break;
         if (g_bShowQueries)
            EchoStatement(kWidenCommunityPgsql);
         if (!step.ExecQuiet(kWidenCommunityPgsql))
            step.Script(kWidenCommunityPgsqlFallback);
         break;
      case DB_SYNTAX_SQLITE:
         printf("WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
                "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n");
         break;
      default:
         printf("Internal error: unknown database syntax %d\n", g_nSyntax);
         step.Check(false);
         break;
   }
}

void Step65To66(StepRunner &step)
{
   step.Script("ALTER TABLE submap_links ADD port1 varchar(255)\n"
               "ALTER TABLE submap_links ADD port2 varchar(255)\n"
               "UPDATE submap_links SET port1='#00',port2='#00'\n"
               "<END>");
}

void Step66To67(StepRunner &step)
{
   step.Script("ALTER TABLE subnets ADD synthetic_mask integer\n"
               "UPDATE subnets SET synthetic_mask=0\n"
               "ALTER TABLE interfaces ADD synthetic_mask integer\n"
               "UPDATE interfaces SET synthetic_mask=0\n"
               "<END>");
}

void Step67To68(StepRunner &step)
{
   step.Script("ALTER TABLE thresholds ADD repeat_interval integer\n"
               "UPDATE thresholds SET repeat_interval=-1\n"
               "<END>");
   step.AddConfig({"ThresholdRepeatInterval", "0", true, true});
}

void Step68To69(StepRunner &step)
{
   step.CreateTable("CREATE TABLE audit_log (record_id integer not null,timestamp integer not null,"
                    "subsystem varchar(32) not null,success integer not null,user_id integer not null,"
                    "workstation varchar(63) not null,object_id integer not null,message $SQL:TEXT not null,"
                    "PRIMARY KEY(record_id))");
   step.AddConfig(kAuditConfig);
}

namespace {

const UpgradeStep kRows55To68[] = {
   {55, Step55To56}, {56, Step56To57}, {57, Step57To58}, {58, Step58To59},
   {59, Step59To60}, {60, Step60To61}, {61, Step61To62}, {62, Step62To63}, {63, Step63To64},
   {64, Step64To65}, {65, Step65To66}, {66, Step66To67}, {67, Step67To68}, {68, Step68To69},
};

}  // namespace

const UpgradeStepRange kSteps55To68 = {kRows55To68, sizeof(kRows55To68) / sizeof(kRows55To68[0])};
