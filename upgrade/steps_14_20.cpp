// Upgrade steps from format 14 to format 21.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "db/dialects.h"
#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"
#include "upgrade/table_rebuild.h"

namespace {

// The mail defaults: written by two steps (once as plain inserts, once only
// where missing), so both must agree.
const ConfigDefault kMailDefaults[] = {
   {"SMTPServer", "localhost", true, false},
   {"SMTPFromAddr", "korvel@localhost", true, false},
};

const char kThresholdEventDescription[] =
   "Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A"
   "   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A"
   "   5) Data collection item ID#0D#0A   6) Instance";

const EventTemplate kAgentEvents[] = {
   {4003, "DC_AGENT_RESTARTED", 0, 1, "Korvel agent was restarted within last 5 minutes", kThresholdEventDescription},
   {4004, "DC_SERVICE_NOT_RUNNING", 3, 1, "Service #22%6#22 is not running", kThresholdEventDescription},
};

const EventTemplate kMailboxAndChangeEvents[] = {
   {4005, "DC_MAILBOX_TOO_LARGE", 1, 1, "Mailbox #22%6#22 exceeds size limit (allowed size: %3; actual size: %4)",
    kThresholdEventDescription},
   {4006, "DC_AGENT_VERSION_CHANGE", 0, 1, "Korvel agent version was changed from %3 to %4",
    kThresholdEventDescription},
   {4007, "DC_HOSTNAME_CHANGE", 1, 1, "Host name was changed from %3 to %4", kThresholdEventDescription},
   {4008, "DC_FILE_CHANGE", 1, 1, "File #22%6#22 was changed", kThresholdEventDescription},
};

const EventTemplate kTrapEvents[] = {
   {500, "SNMP_UNMATCHED_TRAP", 0, 1, "SNMP trap received: %1 (Parameters: %2)",
    "Generated when system receives an SNMP trap without a match in the trap configuration table.#0D#0A"
    "Parameters:#0D#0A   1) SNMP trap OID#0D#0A   2) Trap parameters"},
   {501, "SNMP_COLD_START", 0, 1, "System was cold-started",
    "Generated when system receives a coldStart SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID"},
   {502, "SNMP_WARM_START", 0, 1, "System was warm-started",
    "Generated when system receives a warmStart SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID"},
   {503, "SNMP_LINK_DOWN", 3, 1, "Link is down",
    "Generated when system receives a linkDown SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID#0D#0A"
    "   2) Interface index"},
   {504, "SNMP_LINK_UP", 0, 1, "Link is up",
    "Generated when system receives a linkUp SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID#0D#0A"
    "   2) Interface index"},
   {505, "SNMP_AUTH_FAILURE", 1, 1, "SNMP authentication failure",
    "Generated when system receives an authenticationFailure SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID"},
   {506, "SNMP_EGP_NEIGHBOR_LOSS", 1, 1, "EGP neighbor loss",
    "Generated when system receives an egpNeighborLoss SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID"},
};

const EventTemplate kNodeAndServiceEvents[] = {
   {28, "SYS_NODE_DOWN", 4, 1, "Node down",
    "Generated when node is not responding to the management server.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
   {29, "SYS_NODE_UP", 0, 1, "Node up",
    "Generated when communication with the node is re-established.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
   {25, "SYS_SERVICE_DOWN", 3, 1, "Network service #22%1#22 is not responding",
    "Generated when network service is not responding to the management server.#0D#0AParameters:#0D#0A"
    "   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type"},
   {26, "SYS_SERVICE_UP", 0, 1, "Network service #22%1#22 returned to operational state",
    "Generated when network service responds as expected again after a failure.#0D#0AParameters:#0D#0A"
    "   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type"},
   {27, "SYS_SERVICE_UNKNOWN", 1, 1, "Status of network service #22%1#22 is unknown",
    "Generated when the state of a network service cannot be determined.#0D#0AParameters:#0D#0A"
    "   1) Service name#0D#0A   2) Service object ID#0D#0A   3) Service type"},
};

const EventTemplate kSmsEvents[] = {
   {30, "SYS_SMS_FAILURE", 1, 1, "Unable to send SMS to phone %1",
    "Generated when server is unable to send SMS.#0D#0A   Parameters:#0D#0A   1) Phone number"},
};

// The generic traps, each raising its event.
struct TrapRow
{
   int id;
   const char *oid;
   int eventId;
   const char *description;
};

const TrapRow kGenericTraps[] = {
   {1, ".1.3.6.1.6.3.1.1.5.1", 501, "Generic coldStart trap"},
   {2, ".1.3.6.1.6.3.1.1.5.2", 502, "Generic warmStart trap"},
   {3, ".1.3.6.1.6.3.1.1.5.3", 503, "Generic linkDown trap"},
   {4, ".1.3.6.1.6.3.1.1.5.4", 504, "Generic linkUp trap"},
   {5, ".1.3.6.1.6.3.1.1.5.5", 505, "Generic authenticationFailure trap"},
   {6, ".1.3.6.1.6.3.1.1.5.6", 506, "Generic egpNeighborLoss trap"},
};

struct TrapParameterRow
{
   int trapId;
   int parameter;
   const char *oid;
   const char *description;
};

const TrapParameterRow kGenericTrapParameters[] = {
   {3, 1, ".1.3.6.1.2.1.2.2.1.1", "Interface index"},
   {4, 1, ".1.3.6.1.2.1.2.2.1.1", "Interface index"},
};

// From this format on the database lock lives in configuration variables.
const ConfigDefault kLockAndTrapDefaults[] = {
   {"DBLockStatus", "UNLOCKED", false, true},
   {"DBLockInfo", "", false, false},
   {"EnableSNMPTraps", "1", true, true},
   {"SMSDriver", "<none>", true, true},
};

const ConfigDefault kPollerDefaults[] = {
   {"NumberOfStatusPollers", "10", true, true},
   {"NumberOfConfigurationPollers", "4", true, true},
   // The server runs it for every collected-data table it creates.
   {"IDataIndexCreationCommand", "CREATE INDEX idx_item_id ON idata_%d(item_id)", false, true},
};

// The six boolean node columns folded into node_flags, in select order, with
// the bit each sets. OSPF takes 0x40: 0x20 was already spoken for.
struct NodeFlagColumn
{
   const char *column;
   int32_t bit;
};

const NodeFlagColumn NodeFlagColumns[] = {
   {"is_snmp", 0x01},   {"is_agent", 0x02},      {"is_bridge", 0x04},
   {"is_router", 0x08}, {"is_local_mgmt", 0x10}, {"is_ospf", 0x40},
};

const TableRebuild kPolicyEventList = {
   "policy_event_list", "(rule_id integer not null,event_code integer not null,PRIMARY KEY(rule_id,event_code))",
   CREATE_AS_WRITTEN};

// Until format 18 the templates live in "events", keyed by event_id.
void AddOldEvents(StepRunner &step, const EventTemplate *rows, size_t count)
{
   for (size_t i = 0; step.ok() && i < count; i++)
   {
      const EventTemplate &e = rows[i];
      step.Exec(FormatStatement("INSERT INTO events (event_id,name,severity,flags,message,description) "
                                "VALUES (%d,'%s',%d,%d,'%s','%s')",
                                e.code, e.name, e.severity, e.flags, e.message, e.description));
   }
}

template <size_t N>
void AddOldEvents(StepRunner &step, const EventTemplate (&rows)[N])
{
   AddOldEvents(step, rows, N);
}

// A plain insert: an existing variable of the same name makes it fail.
void InsertConfig(StepRunner &step, const ConfigDefault &row)
{
   char *value = EncodeSQLString(row.value);
   step.Exec(FormatStatement("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                             "VALUES ('%s','%s',%d,%d)",
                             row.name, value, row.visible ? 1 : 0, row.needRestart ? 1 : 0));
   free(value);
}

}  // namespace

void Step14To15(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD instance varchar(255)\n"
               "UPDATE items SET instance=''\n"
               "<END>");
   for (const ConfigDefault &row : kMailDefaults)
      InsertConfig(step, row);
   AddOldEvents(step, kAgentEvents);
   step.Script("UPDATE events SET description='Generated when threshold value reached for specific data collection "
               "item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A"
               "   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance' "
               "WHERE event_id=17 OR (event_id>=4000 AND event_id<5000)\n"
               "UPDATE events SET description='Generated when threshold check is rearmed for specific data "
               "collection item.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A"
               "   3) Data collection item ID' WHERE event_id=18\n"
               "<END>");
}

void Step15To16(StepRunner &step)
{
   AddOldEvents(step, kMailboxAndChangeEvents);
}

void Step16To17(StepRunner &step)
{
   step.Script("DROP TABLE locks\n"
               "CREATE TABLE snmp_trap_cfg (trap_id integer not null,snmp_oid varchar(255) not null,"
               "event_id integer not null,description varchar(255),PRIMARY KEY(trap_id))\n"
               "CREATE TABLE snmp_trap_pmap (trap_id integer not null,parameter integer not null,"
               "snmp_oid varchar(255),description varchar(255),PRIMARY KEY(trap_id,parameter))\n"
               "<END>");
   AddOldEvents(step, kTrapEvents);
   for (size_t i = 0; step.ok() && i < sizeof(kGenericTraps) / sizeof(kGenericTraps[0]); i++)
   {
      const TrapRow &t = kGenericTraps[i];
      step.Exec(FormatStatement("INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) "
                                "VALUES (%d,'%s',%d,'%s')",
                                t.id, t.oid, t.eventId, t.description));
   }
   for (size_t i = 0; step.ok() && i < sizeof(kGenericTrapParameters) / sizeof(kGenericTrapParameters[0]); i++)
   {
      const TrapParameterRow &p = kGenericTrapParameters[i];
      step.Exec(FormatStatement("INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) "
                                "VALUES (%d,%d,'%s','%s')",
                                p.trapId, p.parameter, p.oid, p.description));
   }
   step.AddConfig(kLockAndTrapDefaults);
   step.AddConfig(kMailDefaults);
}

void Step17To18(StepRunner &step)
{
   // Every pair is held in memory: its table is gone before the pairs go
   // back, each old event id becoming the event code. Under -X a failed select
   // leaves the old table as it stands.
   if (StepRows rows = step.Select("SELECT rule_id,event_id FROM policy_event_list"))
   {
      RebuildTable(step, kPolicyEventList, rows.count(), [&rows](const char *into, int i) {
         return FormatStatement("INSERT INTO %s (rule_id,event_code) VALUES (%d,%d)", into, (int)rows.ULong(i, 0),
                                (int)rows.ULong(i, 1));
      });
   }
   // The long-text type goes in as written, not through the table-creation
   // path: these two tables take no MySQL table type.
   step.Exec(FormatStatement("CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,"
                             "severity integer,flags integer,message varchar(255),description %s,"
                             "PRIMARY KEY(event_code))",
                             ColumnTypeNames[g_nSyntax].text));
   step.Script("ALTER TABLE nodes DROP COLUMN inherit_access_rights\n"
               "ALTER TABLE nodes ADD agent_version varchar(63)\n"
               "UPDATE nodes SET agent_version='' WHERE is_agent=0\n"
               "UPDATE nodes SET agent_version='<unknown>' WHERE is_agent=1\n"
               "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
               "SELECT event_id,name,severity,flags,message,description FROM events\n"
               "DROP TABLE events\n"
               "DROP TABLE event_group_members\n"
               "CREATE TABLE event_group_members (group_id integer not null,event_code integer not null,"
               "\tPRIMARY KEY(group_id,event_code))\n"
               "ALTER TABLE alarms ADD source_event_code integer\n"
               "<END>");
   // Run again after an interrupted run, source_event_id may already be the
   // new, zeroed column: the copy then takes only the rows it has not filled,
   // or it would erase every alarm's event code.
   step.Exec(step.again() ? "UPDATE alarms SET source_event_code=source_event_id WHERE source_event_code IS NULL"
                          : "UPDATE alarms SET source_event_code=source_event_id");
   step.Script("ALTER TABLE alarms DROP COLUMN source_event_id\n"
               "ALTER TABLE alarms ADD source_event_id bigint\n"
               "UPDATE alarms SET source_event_id=0\n"
               "ALTER TABLE snmp_trap_cfg ADD event_code integer not null default 0\n"
               "UPDATE snmp_trap_cfg SET event_code=event_id\n"
               "ALTER TABLE snmp_trap_cfg DROP COLUMN event_id\n"
               "DROP TABLE event_log\n"
               "CREATE TABLE event_log (event_id bigint not null,event_code integer,event_timestamp integer,"
               "event_source integer,event_severity integer,event_message varchar(255),root_event_id bigint default 0,"
               "PRIMARY KEY(event_id))\n"
               "<END>");
   step.Exec(FormatStatement("CREATE TABLE modules (module_id integer not null,module_name varchar(63),"
                             "exec_name varchar(255),module_flags integer not null default 0,description %s,"
                             "license_key varchar(255),PRIMARY KEY(module_id))",
                             ColumnTypeNames[g_nSyntax].text));
}

void Step18To19(StepRunner &step)
{
   step.Script("ALTER TABLE nodes ADD platform_name varchar(63)\n"
               "UPDATE nodes SET platform_name=''\n"
               "<END>");
   step.CreateTable("CREATE TABLE agent_pkg (pkg_id integer not null,pkg_name varchar(63),version varchar(31),"
                    "platform varchar(63),pkg_file varchar(255),description varchar(255),PRIMARY KEY(pkg_id))");
}

void Step19To20(StepRunner &step)
{
   step.Script("ALTER TABLE nodes ADD poller_node_id integer\n"
               "ALTER TABLE nodes ADD is_ospf integer\n"
               "UPDATE nodes SET poller_node_id=0,is_ospf=0\n"
               "<END>");
   step.AddEvents(kNodeAndServiceEvents);
   step.Script("INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
               "VALUES (12,'Obj.NetworkService','network_service.png','<invalid_hash>','network_service.ico',"
               "'<invalid_hash>')\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (11,12)\n"
               "<END>");
   step.CreateTable("CREATE TABLE network_services (id integer not null,name varchar(63),status integer,"
                    "is_deleted integer,node_id integer not null,service_type integer,ip_bind_addr varchar(15),"
                    "ip_proto integer,ip_port integer,check_request $SQL:TEXT,check_responce $SQL:TEXT,"
                    "poller_node_id integer not null,image_id integer not null,PRIMARY KEY(id))");
}

void Step20To21(StepRunner &step)
{
   step.AddEvents(kSmsEvents);
   step.Exec("ALTER TABLE nodes ADD node_flags integer");

   // The flags are computed before their columns go. Under -X a failed select
   // leaves node_flags unset.
   std::string query = "SELECT id";
   std::string dropColumns;
   for (const NodeFlagColumn &c : NodeFlagColumns)
   {
      query += std::string(",") + c.column;
      dropColumns += std::string("ALTER TABLE nodes DROP COLUMN ") + c.column + "\n";
   }
   query += " FROM nodes";
   if (StepRows nodes = step.Select(query))
   {
      for (int i = 0; step.ok() && i < nodes.count(); i++)
      {
         int32_t flags = 0;
         for (size_t c = 0; c < sizeof(NodeFlagColumns) / sizeof(NodeFlagColumns[0]); c++)
            if (nodes.Long(i, (int)c + 1) != 0)
               flags |= NodeFlagColumns[c].bit;
         step.Exec(FormatStatement("UPDATE nodes SET node_flags=%d WHERE id=%d", flags, (int)nodes.ULong(i, 0)));
      }
   }

   step.Script((dropColumns + "<END>").c_str());
   step.CreateIndex({"thresholds", "item_id", "idx_item_id", "item_id"});

   if (step.Ask("Create indexes on existing IDATA tables? (Y/N) "))
   {
      // Under -X a failed select creates none of them.
      if (StepRows nodes = step.Select("SELECT id FROM nodes WHERE is_deleted=0"))
      {
         for (int i = 0; step.ok() && i < nodes.count(); i++)
         {
            int id = (int)nodes.ULong(i, 0);
            printf("Creating indexes for table \"idata_%d\"...\n", id);
            std::string table = "idata_" + std::to_string(id);
            step.CreateIndex({table.c_str(), "item_id", "idx_item_id", "item_id"});
         }
      }
   }

   step.AddConfig(kPollerDefaults);
}

namespace {

const UpgradeStep kRows14To20[] = {
   {14, Step14To15}, {15, Step15To16}, {16, Step16To17}, {17, Step17To18},
   {18, Step18To19}, {19, Step19To20}, {20, Step20To21},
};

}  // namespace

const UpgradeStepRange kSteps14To20 = {kRows14To20, sizeof(kRows14To20) / sizeof(kRows14To20[0])};
