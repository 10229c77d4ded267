// Upgrade steps from format 21 to format 31.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"
#include "upgrade/steps.h"

namespace {

const char kThresholdEventDescription[] =
   "Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A"
   "   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A"
   "   5) Data collection item ID#0D#0A   6) Instance";

const EventTemplate kHddTemperatureEvents[] = {
   {4009, "DC_HDD_TEMP_WARNING", 1, 1, "Temperature of hard disk %6 is above warning level of %3 (current: %4)",
    kThresholdEventDescription},
   {4010, "DC_HDD_TEMP_MAJOR", 3, 1, "Temperature of hard disk %6 is above %3 (current: %4)",
    kThresholdEventDescription},
   {4011, "DC_HDD_TEMP_CRITICAL", 4, 1, "Temperature of hard disk %6 is above critical level of %3 (current: %4)",
    kThresholdEventDescription},
};

const ConfigDefault kSmsAndAgentUpgradeDefaults[] = {
   {"SMSDriver", "<none>", true, true},
   {"AgentUpgradeWaitTime", "600", true, false},
   {"NumberOfUpgradeThreads", "10", true, false},
};

// The server runs each of these, its "%d" the node id, on every collected-data
// table it creates. The first one is the single command of the older formats.
const char kOldIndexCommand[] = "IDataIndexCreationCommand";
const ConfigDefault kTimestampIndexCommand = {
   "IDataIndexCreationCommand_1", "CREATE INDEX idx_timestamp ON idata_%d(idata_timestamp)", false, true};

// The per-class object tables, in the order an object is looked up in them.
// Templates never had a status.
struct ObjectDataTable
{
   const char *name;
   bool hasStatus;
};

const ObjectDataTable ObjectDataTables[] = {
   {"nodes", true},      {"interfaces", true},       {"subnets", true},
   {"templates", false}, {"network_services", true}, {"containers", true},
};

// The built-in roots keep their names and images in the configuration until
// they get object_properties rows of their own.
struct BuiltInRoot
{
   uint32_t id;
   const char *nameVariable;
   const char *defaultName;
   const char *imageVariable;
};

const BuiltInRoot kBuiltInRoots[] = {
   {1, "TopologyRootObjectName", "Entire Network", "TopologyRootImageId"},
   {2, "ServiceRootObjectName", "All Services", "ServiceRootImageId"},
   // The template root has always defaulted to the service root's name.
   {3, "TemplateRootObjectName", "All Services", "TemplateRootImageId"},
};

const EventTemplate kAgentRestoredEvents[] = {
   {31, "SYS_SNMP_OK", 0, 1, "Connectivity with SNMP agent restored",
    "Generated when connectivity with node#27s SNMP agent restored.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
   {32, "SYS_AGENT_OK", 0, 1, "Connectivity with native agent restored",
    "Generated when connectivity with node#27s native agent restored.#0D#0AParameters:#0D#0A"
    "   No message-specific parameters"},
};

const ConfigDefault kStatusAndWriterDefaults[] = {
   {"StatusCalculationAlgorithm", "0", true, true},  {"EnableMultipleDBConnections", "1", true, true},
   {"NumberOfDatabaseWriters", "1", true, true},     {"DefaultEncryptionPolicy", "1", true, true},
   {"AllowedCiphers", "15", true, true},             {"KeepAliveInterval", "60", true, true},
};

const ConfigDefault kRoutingTableDefaults[] = {
   {"NumberOfRoutingTablePollers", "5", true, true},
   {"RoutingTableUpdateInterval", "300", true, true},
};

const char kObjectPropertiesInsert[] =
   "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) "
   "VALUES (%d,'%s',%d,%d,%d,%d,%ld)";

// Writes the object_properties row of the object |id| from the first class
// table that holds it. An object in none of them is reported and skipped.
void CopyObjectProperties(StepRunner &step, uint32_t id, int inheritRights)
{
   for (const ObjectDataTable &table : ObjectDataTables)
   {
      // Under -X a table whose select failed is passed over.
      StepRows rows = step.Select(FormatStatement("SELECT name,is_deleted,image_id%s FROM %s WHERE id=%d",
                                                  table.hasStatus ? ",status" : "", table.name, (int)id));
      if (!step.ok())
         return;
      if (!rows || rows.count() == 0)
         continue;
      // The name is copied as the class table stores it, its quotes doubled
      // so that it stays one literal whatever it holds.
      std::string name = DoubleQuotes(rows.Text(0, 0));
      int isDeleted = rows.Long(0, 1) != 0 ? 1 : 0;
      uint32_t imageId = rows.ULong(0, 2);
      uint32_t status = table.hasStatus ? rows.ULong(0, 3) : 5;
      step.Exec(FormatStatement(kObjectPropertiesInsert, (int)id, name.c_str(), (int)status, isDeleted, (int)imageId,
                                inheritRights, (long)time(nullptr)));
      return;
   }
   printf("WARNING: object with ID %d presented in access control tables but cannot be found in data tables\n",
          (int)id);
}

// A built-in root gets its name and image from the configuration, status 5.
void CopyRootProperties(StepRunner &step, const BuiltInRoot &root, int inheritRights)
{
   char name[64];
   uint32_t imageId;
   if (!step.ReadConfigText(root.nameVariable, name, sizeof(name), root.defaultName) ||
       !step.ReadConfigUInt(root.imageVariable, 0, &imageId))
      return;   // a value that could not be read is never replaced by the default
   // The name was decoded from the configuration: it goes in stored-text
   // form, as the server stores every name.
   char *stored = EncodeSQLString(name);
   step.Exec(FormatStatement("INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,"
                             "inherit_access_rights,last_modified) VALUES (%d,'%s',5,0,%d,%d,%ld)",
                             (int)root.id, stored, (int)imageId, inheritRights, (long)time(nullptr)));
   free(stored);
}

}  // namespace

void Step21To22(StepRunner &step)
{
   step.AddEvents(kHddTemperatureEvents);
   step.AddConfig(kSmsAndAgentUpgradeDefaults);
}

void Step22To23(StepRunner &step)
{
   step.Script("ALTER TABLE items ADD template_item_id integer\n"
               "UPDATE items SET template_item_id=0\n"
               "CREATE INDEX idx_sequence ON thresholds(sequence_number)\n"
               "<END>");
}

void Step23To24(StepRunner &step)
{
   step.CreateTable("CREATE TABLE raw_dci_values (\titem_id integer not null,   raw_value varchar(255),"
                    "   last_poll_time integer,   PRIMARY KEY(item_id))");
   // Where index names are per schema, idx_item_id is already taken by the
   // thresholds of an older database. Oracle refuses a second index on the
   // column list of the primary key, which already serves it: the step could
   // never go through there.
   if (g_nSyntax != DB_SYNTAX_ORACLE)
      step.CreateIndex({"raw_dci_values", "item_id", "idx_item_id", "item_id"});
   // Under -X a failed select leaves the table empty.
   if (StepRows items = step.Select("SELECT item_id FROM items"))
   {
      for (int i = 0; step.ok() && i < items.count(); i++)
         step.Exec(FormatStatement("INSERT INTO raw_dci_values (item_id,raw_value,last_poll_time) VALUES (%d,'#00',1)",
                                   (int)items.ULong(i, 0)));
   }
}

void Step24To25(StepRunner &step)
{
   if (!step.Ask("Create indexes on existing IDATA tables? (Y/N) "))
      return;
   // Under -X a failed select creates none of them.
   if (StepRows nodes = step.Select("SELECT id FROM nodes WHERE is_deleted=0"))
   {
      for (int i = 0; step.ok() && i < nodes.count(); i++)
      {
         int id = (int)nodes.ULong(i, 0);
         printf("Creating indexes for table \"idata_%d\"...\n", id);
         std::string table = "idata_" + std::to_string(id);
         step.CreateIndex({table.c_str(), "timestamp", "idx_timestamp", "idata_timestamp"});
      }
   }
}

void Step25To26(StepRunner &step)
{
   // A failed select is passed over here even without -X: the old command is
   // then neither copied nor deleted, and the new one is added all the same.
   std::string query = FormatStatement("SELECT var_value FROM config WHERE var_name='%s'", kOldIndexCommand);
   if (StepRows old = StepRows(ExecSelect(query.c_str())))
   {
      if (old.count() > 0)
      {
         // Decoded here because storing encodes it again: the copy is stored
         // exactly as the old command was.
         std::string command = old.Text(0, 0);
         DecodeSQLString(&command[0]);
         command.resize(strlen(command.c_str()));
         step.AddConfig(ConfigDefault{"IDataIndexCreationCommand_0", command.c_str(), false, true});
      }
      step.Exec(FormatStatement("DELETE FROM config WHERE var_name='%s'", kOldIndexCommand));
   }
   step.AddConfig(kTimestampIndexCommand);
}

void Step26To27(StepRunner &step)
{
   step.CreateTable("CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,"
                    "status integer not null,is_deleted integer not null,image_id integer,"
                    "last_modified integer not null,inherit_access_rights integer not null,PRIMARY KEY(object_id))");
   step.CreateTable("CREATE TABLE user_profiles (user_id integer not null,var_name varchar(255) not null,"
                    "var_value $SQL:TEXT,PRIMARY KEY(user_id,var_name))");

   // Every object listed for access control gets its row before the columns
   // it comes from are dropped. Under -X a failed select writes none.
   if (StepRows objects = step.Select("SELECT object_id,inherit_rights FROM access_options"))
   {
      for (int i = 0; step.ok() && i < objects.count(); i++)
      {
         uint32_t id = objects.ULong(i, 0);
         int inheritRights = objects.Long(i, 1) != 0 ? 1 : 0;
         if (id >= 10)
         {
            CopyObjectProperties(step, id, inheritRights);
            continue;
         }
         const BuiltInRoot *root = nullptr;
         for (const BuiltInRoot &r : kBuiltInRoots)
            if (r.id == id)
               root = &r;
         if (root != nullptr)
            CopyRootProperties(step, *root, inheritRights);
         else
            printf("WARNING: Invalid built-in object ID %d\n", (int)id);
      }
   }

   // The moved columns go: the class tables with a status first, in lookup
   // order, then templates.
   std::string script;
   for (bool withStatus : {true, false})
      for (const ObjectDataTable &table : ObjectDataTables)
         if (table.hasStatus == withStatus)
            for (const char *column : {"name", "status", "is_deleted", "image_id"})
               if (table.hasStatus || strcmp(column, "status") != 0)
                  script += FormatStatement("ALTER TABLE %s DROP COLUMN %s\n", table.name, column);
   script += "DROP TABLE access_options\n";
   for (const BuiltInRoot &root : kBuiltInRoots)
   {
      script += FormatStatement("DELETE FROM config WHERE var_name='%s'\n", root.nameVariable);
      script += FormatStatement("DELETE FROM config WHERE var_name='%s'\n", root.imageVariable);
   }
   script += "<END>";
   step.Script(script.c_str());
   step.AddEvents(kAgentRestoredEvents);
}

void Step27To28(StepRunner &step)
{
   step.Script("ALTER TABLE users ADD system_access integer\n"
               "UPDATE users SET system_access=access\n"
               "ALTER TABLE users DROP COLUMN access\n"
               "ALTER TABLE user_groups ADD system_access integer\n"
               "UPDATE user_groups SET system_access=access\n"
               "ALTER TABLE user_groups DROP COLUMN access\n"
               "<END>");
}

void Step28To29(StepRunner &step)
{
   step.CreateTable("CREATE TABLE zones (id integer not null,zone_guid integer not null,zone_type integer not null,"
                    "controller_ip varchar(15) not null,description $SQL:TEXT,PRIMARY KEY(id))");
   step.CreateTable("CREATE TABLE zone_ip_addr_list (zone_id integer not null,ip_addr varchar(15) not null,"
                    "PRIMARY KEY(zone_id,ip_addr))");
   step.Script("ALTER TABLE nodes ADD zone_guid integer\n"
               "ALTER TABLE subnets ADD zone_guid integer\n"
               "UPDATE nodes SET zone_guid=0\n"
               "UPDATE subnets SET zone_guid=0\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (6,13)\n"
               "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
               "VALUES (13,'Obj.Zone','zone.png','<invalid_hash>','zone.ico','<invalid_hash>')\n"
               "<END>");
   step.AddConfig(ConfigDefault{"EnableZoning", "0", true, true});
}

void Step29To30(StepRunner &step)
{
   step.Script("ALTER TABLE object_properties ADD status_alg integer\n"
               "UPDATE object_properties SET status_alg=-1\n"
               "<END>");
   step.AddConfig(kStatusAndWriterDefaults);
}

void Step30To31(StepRunner &step)
{
   step.Script("INSERT INTO default_images (object_class,image_id) VALUES (12, 14)\n"
               "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) "
               "VALUES (14,'Obj.VPNConnector','vpnc.png','<invalid_hash>','vpnc.ico','<invalid_hash>')\n"
               "<END>");
   step.CreateTable("CREATE TABLE vpn_connectors (id integer not null,node_id integer not null,"
                    "peer_gateway integer not null,PRIMARY KEY(id))");
   step.CreateTable("CREATE TABLE vpn_connector_networks (vpn_id integer not null,network_type integer not null,"
                    "ip_addr varchar(15) not null,ip_netmask varchar(15) not null,PRIMARY KEY(vpn_id,ip_addr))");
   step.AddConfig(kRoutingTableDefaults);
}

namespace {

const UpgradeStep kRows21To30[] = {
   {21, Step21To22}, {22, Step22To23}, {23, Step23To24}, {24, Step24To25}, {25, Step25To26},
   {26, Step26To27}, {27, Step27To28}, {28, Step28To29}, {29, Step29To30}, {30, Step30To31},
};

}  // namespace

const UpgradeStepRange kSteps21To30 = {kRows21To30, sizeof(kRows21To30) / sizeof(kRows21To30[0])};
