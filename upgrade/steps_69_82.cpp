// Upgrade steps from format 69 to format 83.
#include <stdio.h>
#include <stdint.h>

#include <string>

#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"
#include "upgrade/table_rebuild.h"

namespace {

// Stores a retention period, kept in seconds before format 70, as whole days.
// A period is never stored as 0 days or fewer: the server would then keep
// nothing at all. A value that cannot be read is left as it is stored: the
// default must never overwrite it.
void ConvertRetentionToDays(StepRunner &step, const char *name)
{
   int32_t seconds;
   if (!step.ReadConfigInt(name, 5184000, &seconds))
      return;
   int32_t days = seconds / 86400;
   if (days < 1)
      days = 1;
   std::string value = std::to_string(days);
   step.StoreConfig({name, value.c_str(), true, false});
}

// Columns that MySQL must hold as "text": longer than its varchar allows.
struct LongTextColumn
{
   const char *table;
   const char *column;
};

const LongTextColumn kMySqlLongTextColumns[] = {
   {"users", "cert_mapping_data"},
   {"user_profiles", "var_value"},
   {"object_properties", "comments"},
   {"network_services", "check_request"},
   {"network_services", "check_responce"},
   {"conditions", "script"},
   {"container_categories", "description"},
   {"items", "transformation"},
   {"event_cfg", "description"},
   {"actions", "action_data"},
   {"event_policy", "comments"},
   {"event_policy", "script"},
   {"alarm_change_log", "info_text"},
   {"alarm_notes", "note_text"},
   {"object_tools", "tool_data"},
   {"syslog", "msg_text"},
   {"script_library", "script_code"},
   {"snmp_trap_log", "trap_varlist"},
   {"maps", "description"},
   {"agent_configs", "config_file"},
   {"agent_configs", "config_filter"},
   {"graphs", "config"},
   {"certificates", "cert_data"},
   {"certificates", "subject"},
   {"certificates", "comments"},
   {"audit_log", "message"},
   {"situations", "comments"},
};

const TableRebuild kConditionDciMap = {
   "cond_dci_map",
   "(condition_id integer not null,sequence_number integer not null,dci_id integer not null,"
   "node_id integer not null,dci_func integer not null,num_polls integer not null,"
   "PRIMARY KEY(condition_id,sequence_number))",
   CREATE_WITH_TABLE_TYPE};

const TableRebuild kDciSchedules = {
   "dci_schedules",
   "(schedule_id integer not null,item_id integer not null,schedule varchar(255) not null,"
   "PRIMARY KEY(item_id,schedule_id))",
   CREATE_WITH_TABLE_TYPE};

const EventTemplate kEventStormEvents[] = {
   {48, "SYS_EVENT_STORM_DETECTED", 3, 1, "Event storm detected (Events per second: %1)",
    "Generated when system detects an event storm.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A"
    "   2) Duration#0D#0A   3) Threshold"},
   {49, "SYS_EVENT_STORM_ENDED", 0, 1, "Event storm ended",
    "Generated when system clears event storm condition.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A"
    "   2) Duration#0D#0A   3) Threshold"},
};

const EventTemplate kNetworkConnectivityEvents[] = {
   {50, "SYS_NETWORK_CONN_LOST", 4, 1, "Korvel server network connectivity lost",
    "Generated when system detects loss of network connectivity based on beacon probing.#0D#0A"
    "Parameters:#0D#0A   1) Number of beacons"},
   {51, "SYS_NETWORK_CONN_RESTORED", 0, 1, "Korvel server network connectivity restored",
    "Generated when system detects restoration of network connectivity based on beacon probing.#0D#0A"
    "Parameters:#0D#0A   1) Number of beacons"},
};

const ConfigDefault kSituationsConfig[] = {
   {"RetainCustomInterfaceNames", "0", true, false},
   {"AllowDirectSMS", "0", true, false},
   {"EventStormThreshold", "0", true, true},
};

const ConfigDefault kEventStormConfig[] = {
   {"EnableEventStormDetection", "0", true, true},
   {"EventStormEventsPerSecond", "100", true, true},
   {"EventStormDuration", "15", true, true},
};

const ConfigDefault kCommunityConfig[] = {
   {"UseInterfaceAliases", "0", true, false},
   {"SyncNodeNamesWithDNS", "0", true, false},
};

const ConfigDefault kBeaconConfig[] = {
   {"AgentCommandTimeout", "2000", true, true},
   {"BeaconHosts", "", true, true},
   {"BeaconTimeout", "1000", true, true},
   {"BeaconPollingInterval", "1000", true, true},
};

}  // namespace

void Step69To70(StepRunner &step)
{
   step.Script("ALTER TABLE snmp_trap_cfg ADD user_tag varchar(63)\n"
               "UPDATE snmp_trap_cfg SET user_tag='#00'\n"
               "ALTER TABLE event_log ADD user_tag varchar(63)\n"
               "UPDATE event_log SET user_tag='#00'\n"
               "<END>");
   ConvertRetentionToDays(step, "EventLogRetentionTime");
   ConvertRetentionToDays(step, "SyslogRetentionTime");
}

void Step70To71(StepRunner &step)
{
   step.Script("ALTER TABLE nodes ADD required_polls integer\n"
               "UPDATE nodes SET required_polls=0\n"
               "ALTER TABLE interfaces ADD required_polls integer\n"
               "UPDATE interfaces SET required_polls=0\n"
               "ALTER TABLE network_services ADD required_polls integer\n"
               "UPDATE network_services SET required_polls=0\n"
               "<END>");
   step.AddConfig({"PollCountForStatusChange", "1", true, true});
}

void Step71To72(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD proxy_node integer\n"
               "UPDATE items SET proxy_node=0\n"
               "<END>");
}

void Step72To73(StepRunner &step)
{
   step.Script("ALTER TABLE event_policy ADD situation_id integer\n"
               "ALTER TABLE event_policy ADD situation_instance varchar(255)\n"
               "UPDATE event_policy SET situation_id=0,situation_instance='#00'\n"
               "<END>");
   step.CreateTable("CREATE TABLE policy_situation_attr_list (rule_id integer not null,"
                    "situation_id integer not null,attr_name varchar(255) not null,"
                    "attr_value varchar(255) not null,PRIMARY KEY(rule_id,situation_id,attr_name))");
   step.CreateTable("CREATE TABLE situations (id integer not null,name varchar(127) not null,"
                    "comments $SQL:TEXT not null,PRIMARY KEY(id))");
   step.AddConfig(kSituationsConfig);
}

void Step73To74(StepRunner &step)
{
   step.AddEvents(kEventStormEvents);
   step.Script("DELETE FROM config WHERE var_name='NumberOfEventProcessors'\n"
               "DELETE FROM config WHERE var_name='EventStormThreshold'\n"
               "<END>");
   step.AddConfig(kEventStormConfig);
}

void Step74To75(StepRunner &step)
{
   step.Script("ALTER TABLE address_lists ADD community_id integer\n"
               "UPDATE address_lists SET community_id=0\n"
               "<END>");
   step.CreateTable("CREATE TABLE snmp_communities (id integer not null,"
                    "community varchar(255) not null,PRIMARY KEY(id))");
   step.AddConfig(kCommunityConfig);
}

void Step75To76(StepRunner &step)
{
   step.AddEvents(kNetworkConnectivityEvents);
   step.AddConfig(kBeaconConfig);
}

void Step76To77(StepRunner &step)
{
   // Under -X a failed select leaves the old table as it stands.
   if (StepRows rows = step.Select("SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map "
                                   "ORDER BY condition_id"))
   {
      // The rows of one condition are numbered 0, 1, 2, ... in the order returned.
      uint32_t currentCondition = 0;
      int sequence = 0;
      RebuildTable(step, kConditionDciMap, rows.count(), [&](const char *into, int i) {
         uint32_t condition = rows.ULong(i, 0);
         if (condition != currentCondition)
         {
            sequence = 0;
            currentCondition = condition;
         }
         return FormatStatement("INSERT INTO %s (condition_id,sequence_number,dci_id,node_id,dci_func,"
                                "num_polls) VALUES (%d,%d,%d,%d,%d,%d)",
                                into, (int)condition, sequence++, (int)rows.ULong(i, 1), (int)rows.ULong(i, 2),
                                (int)rows.ULong(i, 3), (int)rows.ULong(i, 4));
      });
   }
}

void Step77To78(StepRunner &step)
{
   step.CreateTable("CREATE TABLE trusted_nodes (source_object_id integer not null,"
                    "target_node_id integer not null,PRIMARY KEY(source_object_id,target_node_id))");
   step.AddConfig({"CheckTrustedNodes", "1", true, true});
}

void Step78To79(StepRunner &step)
{
   step.Script("DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'\n"
               "DROP TABLE modules\n"
               "<END>");
   if (g_nSyntax == DB_SYNTAX_MYSQL)
   {
      std::string script;
      for (const LongTextColumn &c : kMySqlLongTextColumns)
         script += FormatStatement("ALTER TABLE %s MODIFY COLUMN %s text not null\n", c.table, c.column);
      script += "<END>";
      step.Script(script.c_str());
   }
}

void Step79To80(StepRunner &step)
{
   step.Script("ALTER TABLE nodes ADD uname varchar(255)\n"
               "UPDATE nodes SET uname='#00'\n"
               "<END>");
}

void Step80To81(StepRunner &step)
{
   // Under -X a failed select leaves the old table as it stands.
   if (StepRows rows = step.Select("SELECT item_id,schedule FROM dci_schedules"))
   {
      // Schedule ids run 1, 2, 3, ... over the whole table. The schedule is
      // copied as stored, whatever its length, its quotes doubled so that it
      // stays one literal.
      RebuildTable(step, kDciSchedules, rows.count(), [&rows](const char *into, int i) {
         return FormatStatement("INSERT INTO %s (item_id,schedule_id,schedule) VALUES(%d,%d,'%s')", into,
                                (int)rows.ULong(i, 0), i + 1, DoubleQuotes(rows.Text(i, 1)).c_str());
      });
   }
   step.AddPrimaryKey("address_lists", "list_type,community_id,addr_type,addr1,addr2");
   step.AddPrimaryKey("lpp_associations", "lpp_id,node_id,log_file");
   step.CreateTable("CREATE TABLE object_custom_attributes (object_id integer not null,"
                    "attr_name varchar(127) not null,attr_value $SQL:TEXT not null,"
                    "PRIMARY KEY(object_id,attr_name))");
   step.CreateTable("CREATE TABLE web_maps (id integer not null,title varchar(63) not null,"
                    "properties $SQL:TEXT not null,data $SQL:TEXT not null,PRIMARY KEY(id))");
}

void Step81To82(StepRunner &step)
{
   step.CreateTable("CREATE TABLE config_clob (var_name varchar(63) not null,"
                    "var_value $SQL:TEXT not null,PRIMARY KEY(var_name))");
}

void Step82To83(StepRunner &step)
{
   step.Exec("UPDATE alarms SET timeout=0,timeout_event=43");
}

namespace {

const UpgradeStep kRows69To82[] = {
   {69, Step69To70}, {70, Step70To71}, {71, Step71To72}, {72, Step72To73}, {73, Step73To74},
   {74, Step74To75}, {75, Step75To76}, {76, Step76To77}, {77, Step77To78}, {78, Step78To79},
   {79, Step79To80}, {80, Step80To81}, {81, Step81To82}, {82, Step82To83},
};

}  // namespace

const UpgradeStepRange kSteps69To82 = {kRows69To82, sizeof(kRows69To82) / sizeof(kRows69To82[0])};
