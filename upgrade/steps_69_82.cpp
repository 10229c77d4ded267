// Upgrade steps from format 69 to format 83.
#include <stdio.h>
#include <stdint.h>

#include <string>

#include "db/config_vars.h"
#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"

namespace {

// Stores a retention period, kept in seconds before format 70, as whole days.
// A period is never stored as 0 days or fewer: the server would then keep
// nothing at all. Only the store can fail.
bool ConvertRetentionToDays(const char *name)
{
   int32_t days = FetchConfigInt(name, 5184000) / 86400;
   if (days < 1)
      days = 1;
   char value[16];
   snprintf(value, sizeof(value), "%d", days);
   return PutConfigVariable(name, value, 1, 0, true);
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

}  // namespace

bool Step69To70()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE snmp_trap_cfg ADD user_tag varchar(63)\n"
                              "UPDATE snmp_trap_cfg SET user_tag='#00'\n"
                              "ALTER TABLE event_log ADD user_tag varchar(63)\n"
                              "UPDATE event_log SET user_tag='#00'\n"
                              "<END>")))
      return false;
   if (!StepMayGoOn(ConvertRetentionToDays("EventLogRetentionTime")))
      return false;
   if (!StepMayGoOn(ConvertRetentionToDays("SyslogRetentionTime")))
      return false;
   return SetFormatVersion(70);
}

bool Step70To71()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE nodes ADD required_polls integer\n"
                              "UPDATE nodes SET required_polls=0\n"
                              "ALTER TABLE interfaces ADD required_polls integer\n"
                              "UPDATE interfaces SET required_polls=0\n"
                              "ALTER TABLE network_services ADD required_polls integer\n"
                              "UPDATE network_services SET required_polls=0\n"
                              "<END>")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("PollCountForStatusChange", "1", 1, 1, false)))
      return false;
   return SetFormatVersion(71);
}

bool Step71To72()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE items ADD proxy_node integer\n"
                              "UPDATE items SET proxy_node=0\n"
                              "<END>")))
      return false;
   return SetFormatVersion(72);
}

bool Step72To73()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE event_policy ADD situation_id integer\n"
                              "ALTER TABLE event_policy ADD situation_instance varchar(255)\n"
                              "UPDATE event_policy SET situation_id=0,situation_instance='#00'\n"
                              "<END>")))
      return false;
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE policy_situation_attr_list (rule_id integer not null,"
                                    "situation_id integer not null,attr_name varchar(255) not null,"
                                    "attr_value varchar(255) not null,PRIMARY KEY(rule_id,situation_id,attr_name))")))
      return false;
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE situations (id integer not null,name varchar(127) not null,"
                                    "comments $SQL:TEXT not null,PRIMARY KEY(id))")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("RetainCustomInterfaceNames", "0", 1, 0, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("AllowDirectSMS", "0", 1, 0, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("EventStormThreshold", "0", 1, 1, false)))
      return false;
   return SetFormatVersion(73);
}

bool Step73To74()
{
   if (!StepMayGoOn(RunScript(
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
          "(48,'SYS_EVENT_STORM_DETECTED',3,1,'Event storm detected (Events per second: %1)',"
          "'Generated when system detects an event storm.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A"
          "   2) Duration#0D#0A   3) Threshold')\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
          "(49,'SYS_EVENT_STORM_ENDED',0,1,'Event storm ended',"
          "'Generated when system clears event storm condition.#0D#0AParameters:#0D#0A   1) Events per second#0D#0A"
          "   2) Duration#0D#0A   3) Threshold')\n"
          "DELETE FROM config WHERE var_name='NumberOfEventProcessors'\n"
          "DELETE FROM config WHERE var_name='EventStormThreshold'\n"
          "<END>")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("EnableEventStormDetection", "0", 1, 1, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("EventStormEventsPerSecond", "100", 1, 1, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("EventStormDuration", "15", 1, 1, false)))
      return false;
   return SetFormatVersion(74);
}

bool Step74To75()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE address_lists ADD community_id integer\n"
                              "UPDATE address_lists SET community_id=0\n"
                              "<END>")))
      return false;
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE snmp_communities (id integer not null,"
                                    "community varchar(255) not null,PRIMARY KEY(id))")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("UseInterfaceAliases", "0", 1, 0, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("SyncNodeNamesWithDNS", "0", 1, 0, false)))
      return false;
   return SetFormatVersion(75);
}

bool Step75To76()
{
   if (!StepMayGoOn(RunScript(
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
          "(50,'SYS_NETWORK_CONN_LOST',4,1,'Korvel server network connectivity lost',"
          "'Generated when system detects loss of network connectivity based on beacon probing.#0D#0A"
          "Parameters:#0D#0A   1) Number of beacons')\n"
          "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
          "(51,'SYS_NETWORK_CONN_RESTORED',0,1,'Korvel server network connectivity restored',"
          "'Generated when system detects restoration of network connectivity based on beacon probing.#0D#0A"
          "Parameters:#0D#0A   1) Number of beacons')\n"
          "<END>")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("AgentCommandTimeout", "2000", 1, 1, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("BeaconHosts", "", 1, 1, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("BeaconTimeout", "1000", 1, 1, false)))
      return false;
   if (!StepMayGoOn(PutConfigVariable("BeaconPollingInterval", "1000", 1, 1, false)))
      return false;
   return SetFormatVersion(76);
}

bool Step76To77()
{
   DB_RESULT result = ExecSelect("SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id");
   if (result == nullptr && !g_bSkipErrors)
      return false;
   // Under -X a failed select leaves the old table as it stands.
   if (result != nullptr)
   {
      bool ok = StepMayGoOn(ExecStatement("DROP TABLE cond_dci_map")) &&
                StepMayGoOn(ExecCreateTable(
                   "CREATE TABLE cond_dci_map (condition_id integer not null,sequence_number integer not null,"
                   "dci_id integer not null,node_id integer not null,dci_func integer not null,"
                   "num_polls integer not null,PRIMARY KEY(condition_id,sequence_number))"));
      // The rows of one condition are numbered 0, 1, 2, ... in the order returned.
      uint32_t currentCondition = 0;
      int sequence = 0;
      int rows = DBGetNumRows(result);
      for (int i = 0; ok && i < rows; i++)
      {
         uint32_t condition = DBGetFieldULong(result, i, 0);
         if (condition != currentCondition)
         {
            sequence = 0;
            currentCondition = condition;
         }
         std::string statement = FormatStatement(
            "INSERT INTO cond_dci_map (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) "
            "VALUES (%d,%d,%d,%d,%d,%d)",
            (int)condition, sequence, (int)DBGetFieldULong(result, i, 1), (int)DBGetFieldULong(result, i, 2),
            (int)DBGetFieldULong(result, i, 3), (int)DBGetFieldULong(result, i, 4));
         ok = StepMayGoOn(ExecStatement(statement.c_str()));
         sequence++;
      }
      DBFreeResult(result);
      if (!ok)
         return false;
   }
   return SetFormatVersion(77);
}

bool Step77To78()
{
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE trusted_nodes (source_object_id integer not null,"
                                    "target_node_id integer not null,PRIMARY KEY(source_object_id,target_node_id))")))
      return false;
   if (!StepMayGoOn(PutConfigVariable("CheckTrustedNodes", "1", 1, 1, false)))
      return false;
   return SetFormatVersion(78);
}

bool Step78To79()
{
   if (!StepMayGoOn(RunScript("DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'\n"
                              "DROP TABLE modules\n"
                              "<END>")))
      return false;
   if (g_nSyntax == DB_SYNTAX_MYSQL)
   {
      std::string script;
      for (const LongTextColumn &c : kMySqlLongTextColumns)
         script += FormatStatement("ALTER TABLE %s MODIFY COLUMN %s text not null\n", c.table, c.column);
      script += "<END>";
      if (!StepMayGoOn(RunScript(script.c_str())))
         return false;
   }
   return SetFormatVersion(79);
}

bool Step79To80()
{
   if (!StepMayGoOn(RunScript("ALTER TABLE nodes ADD uname varchar(255)\n"
                              "UPDATE nodes SET uname='#00'\n"
                              "<END>")))
      return false;
   return SetFormatVersion(80);
}

bool Step80To81()
{
   DB_RESULT result = ExecSelect("SELECT item_id,schedule FROM dci_schedules");
   if (result == nullptr && !g_bSkipErrors)
      return false;
   // Under -X a failed select leaves the old table as it stands.
   if (result != nullptr)
   {
      bool ok = StepMayGoOn(ExecStatement("DROP TABLE dci_schedules")) &&
                StepMayGoOn(ExecCreateTable("CREATE TABLE dci_schedules (schedule_id integer not null,"
                                            "item_id integer not null,schedule varchar(255) not null,"
                                            "PRIMARY KEY(item_id,schedule_id))"));
      // Schedule ids run 1, 2, 3, ... over the whole table. The schedule is
      // copied as stored, whatever its length, its quotes doubled so that it
      // stays one literal.
      int rows = DBGetNumRows(result);
      for (int i = 0; ok && i < rows; i++)
      {
         std::string schedule = DoubleQuotes(DBGetFieldText(result, i, 1));
         std::string statement =
            FormatStatement("INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(%d,%d,'%s')",
                            (int)DBGetFieldULong(result, i, 0), i + 1, schedule.c_str());
         ok = StepMayGoOn(ExecStatement(statement.c_str()));
      }
      DBFreeResult(result);
      if (!ok)
         return false;
   }
   if (!StepMayGoOn(AddPrimaryKey("address_lists", "list_type,community_id,addr_type,addr1,addr2")))
      return false;
   if (!StepMayGoOn(AddPrimaryKey("lpp_associations", "lpp_id,node_id,log_file")))
      return false;
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE object_custom_attributes (object_id integer not null,"
                                    "attr_name varchar(127) not null,attr_value $SQL:TEXT not null,"
                                    "PRIMARY KEY(object_id,attr_name))")))
      return false;
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE web_maps (id integer not null,title varchar(63) not null,"
                                    "properties $SQL:TEXT not null,data $SQL:TEXT not null,PRIMARY KEY(id))")))
      return false;
   return SetFormatVersion(81);
}

bool Step81To82()
{
   if (!StepMayGoOn(ExecCreateTable("CREATE TABLE config_clob (var_name varchar(63) not null,"
                                    "var_value $SQL:TEXT not null,PRIMARY KEY(var_name))")))
      return false;
   return SetFormatVersion(82);
}

bool Step82To83()
{
   if (!StepMayGoOn(ExecStatement("UPDATE alarms SET timeout=0,timeout_event=43")))
      return false;
   return SetFormatVersion(83);
}
