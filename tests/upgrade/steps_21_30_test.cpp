// Upgrading the format-14 baseline, brought to 21 by the tool itself, on to
// 31: what the run prints and what every step leaves in the database, with
// the object properties moved out of the class tables as the centre piece.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

const std::string kStopsAt31 = NoProcedure(31);
// Printed by the step from 26 for the rows the test adds at 21.
const std::string kWarnings = "WARNING: Invalid built-in object ID 5\n"
                              "WARNING: object with ID 999 presented in access control tables but cannot be found "
                              "in data tables\n";
const char kCustomThreshold[] =
   "Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A"
   "   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A"
   "   5) Data collection item ID#0D#0A   6) Instance";

// Sorts the "Creating indexes" lines: nodes come in the engine's order.
std::string SortedIndexLines(const std::string &text)
{
   std::vector<std::string> lines;
   std::string out;
   size_t start = 0;
   for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
   {
      std::string line = text.substr(start, end - start + 1);
      if (line.compare(0, 26, "Creating indexes for table") == 0)
      {
         lines.push_back(line);
         continue;
      }
      std::sort(lines.begin(), lines.end());
      for (const std::string &l : lines)
         out += l;
      lines.clear();
      out += line;
   }
   return out + text.substr(start);
}

class Upgrade21Test : public UpgradeTest
{
protected:
   void SetUpDatabase() override
   {
      LoadFormat14(db());
      AddUpgradeStopper(db(), 21);
   }

   int Version() { return atoi(Config("DBFormatVersion").c_str()); }
   std::string IndexName(const std::string &table, const std::string &suffix, const std::string &plain)
   {
      return PerSchemaIndexNames() ? "idx_" + table + "_" + suffix : plain;
   }

   // Brings the baseline to 21 with the tool (answering the index question
   // N), then adds what the steps from 21 have to convert beyond the
   // baseline: a network service; node 40, deleted, with a template of the
   // same id; a container whose stored name holds a raw quote; access rows
   // for them, for an invalid built-in id and for an object no class table
   // holds; root names that need encoding or are missing; a user with rights.
   void UpgradeTo21()
   {
      ToolRun run = db().Run({"upgrade"}, "n");
      ASSERT_EQ(kStart + UpgradeLines(14, 21) + kIndexQuestion + "N\n" + NoProcedure(21),
                StoppedAt(run.out, 21))
         << run.err;
      ASSERT_EQ("21", Config("DBFormatVersion"));
      RemoveUpgradeStopper(db(), 21);
      const char *statements[] = {
         "INSERT INTO network_services (id,name,status,is_deleted,node_id,service_type,ip_bind_addr,ip_proto,ip_port,"
         "check_request,check_responce,poller_node_id,image_id) VALUES (50,'http',2,0,100,1,'0.0.0.0',6,80,'GET /',"
         "'200',0,12)",
         "INSERT INTO nodes (id,name,status,is_deleted,image_id,primary_ip,snmp_version,community,snmp_oid,auth_method,"
         "secret,agent_port,discovery_flags,node_type,description,agent_version,platform_name,poller_node_id,"
         "node_flags) VALUES (40,'dual',3,1,2,'10.0.0.40',1,'public','#00',0,'#00',4700,0,0,'#00','','',0,0)",
         "INSERT INTO templates (id,name,is_deleted,image_id,version,description) VALUES (40,'dual-template',0,8,1,"
         "'#00')",
         "INSERT INTO containers (id,name,status,is_deleted,image_id,category,object_class,description) "
         "VALUES (21,'Bob''s racks',1,0,5,1,5,'#00')",
         "INSERT INTO access_options (object_id,inherit_rights) VALUES (5,1)",
         "INSERT INTO access_options (object_id,inherit_rights) VALUES (21,7)",
         "INSERT INTO access_options (object_id,inherit_rights) VALUES (40,0)",
         "INSERT INTO access_options (object_id,inherit_rights) VALUES (50,1)",
         "INSERT INTO access_options (object_id,inherit_rights) VALUES (999,1)",
         "UPDATE config SET var_value='Main#27s net' WHERE var_name='TopologyRootObjectName'",
         "DELETE FROM config WHERE var_name IN ('TemplateRootObjectName','TemplateRootImageId')",
         "UPDATE users SET access=3 WHERE id=1",
      };
      for (const char *statement : statements)
      {
         std::string error;
         ASSERT_TRUE(db().Exec(statement, &error)) << statement << "\n" << error;
      }
   }

   // Everything the ten steps convert or create, but the idata indexes.
   void ExpectConvertedRows(time_t before, time_t after);
};

void Upgrade21Test::ExpectConvertedRows(time_t before, time_t after)
{
   EXPECT_EQ(31, Version());

   // 21 to 22: hard-disk temperature templates and three variables.
   EXPECT_EQ((Rows{{"4009", "DC_HDD_TEMP_WARNING", "1", "1",
                    "Temperature of hard disk %6 is above warning level of %3 (current: %4)", kCustomThreshold},
                   {"4010", "DC_HDD_TEMP_MAJOR", "3", "1", "Temperature of hard disk %6 is above %3 (current: %4)",
                    kCustomThreshold},
                   {"4011", "DC_HDD_TEMP_CRITICAL", "4", "1",
                    "Temperature of hard disk %6 is above critical level of %3 (current: %4)", kCustomThreshold}}),
             db().Query("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                        "WHERE event_code BETWEEN 4009 AND 4011 ORDER BY event_code"));

   // 22 to 24: template items, raw values (one per item), the sequence index.
   EXPECT_EQ((Rows{{"1000", "0"}, {"1001", "0"}, {"1002", "0"}}),
             db().Query("SELECT item_id,template_item_id FROM items ORDER BY item_id"));
   EXPECT_EQ((Rows{{"1000", "#00", "1"}, {"1001", "#00", "1"}, {"1002", "#00", "1"}}),
             db().Query("SELECT item_id,raw_value,last_poll_time FROM raw_dci_values ORDER BY item_id"));
   std::vector<std::string> thresholdIndexes = {"idx_sequence", IndexName("thresholds", "item_id", "idx_item_id")};
   std::sort(thresholdIndexes.begin(), thresholdIndexes.end());
   EXPECT_EQ(thresholdIndexes, IndexNames(db(), "thresholds"));
   EXPECT_EQ(std::vector<std::string>{IndexName("raw_dci_values", "item_id", "idx_item_id")},
             IndexNames(db(), "raw_dci_values"));

   // 25 to 26: the index commands, the old one copied as stored.
   EXPECT_EQ("<none>", Config("IDataIndexCreationCommand"));
   EXPECT_EQ("CREATE INDEX idx_item_id ON idata_#25d(item_id)", Config("IDataIndexCreationCommand_0"));
   EXPECT_EQ("CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)", Config("IDataIndexCreationCommand_1"));

   // 26 to 27: one row per object listed for access control. Roots from the
   // configuration (decoded, stored again in stored-text form; the missing
   // template root takes the documented default, "All Services"); the rest
   // from the first class table that holds them, templates with status 5.
   EXPECT_EQ((Rows{{"1", "Main#27s net", "5", "0", "4", "0"},
                   {"2", "All Services", "5", "0", "6", "0"},
                   {"3", "All Services", "5", "0", "0", "0"},
                   {"10", "10.0.0.0", "0", "0", "1", "1"},
                   {"20", "Servers", "0", "0", "5", "1"},
                   {"21", "Bob's racks", "1", "0", "5", "1"},
                   {"30", "Basic server", "5", "0", "8", "1"},
                   {"40", "dual", "3", "1", "2", "0"},
                   {"50", "http", "2", "0", "12", "1"},
                   {"100", "router1", "0", "0", "10", "1"},
                   {"101", "server1", "0", "0", "2", "0"},
                   {"102", "old-host", "5", "1", "2", "1"},
                   {"200", "eth0", "0", "0", "3", "1"},
                   {"201", "eth0", "0", "0", "3", "1"}}),
             db().Query("SELECT object_id,name,status,is_deleted,image_id,inherit_access_rights "
                        "FROM object_properties ORDER BY object_id"));
   Rows stamps = db().Query("SELECT MIN(last_modified),MAX(last_modified) FROM object_properties");
   EXPECT_LE((long)before, atol(stamps[0][0].c_str()));
   EXPECT_GE((long)after, atol(stamps[0][1].c_str()));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM object_properties WHERE status_alg<>-1 OR status_alg IS NULL"));
   for (const char *table : {"nodes", "interfaces", "subnets", "network_services", "containers"})
      for (const char *column : {"name", "status", "is_deleted", "image_id"})
         EXPECT_FALSE(ColumnExists(table, column)) << table << "." << column;
   for (const char *column : {"name", "is_deleted", "image_id"})
      EXPECT_FALSE(ColumnExists("templates", column)) << column;
   EXPECT_TRUE(ColumnExists("templates", "id,version"));
   EXPECT_FALSE(TableExists("access_options"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM config WHERE var_name LIKE '%Root%'"));
   EXPECT_EQ((Rows{{"31", "SYS_SNMP_OK", "0", "1", "Connectivity with SNMP agent restored",
                    "Generated when connectivity with node#27s SNMP agent restored.#0D#0AParameters:#0D#0A"
                    "   No message-specific parameters"},
                   {"32", "SYS_AGENT_OK", "0", "1", "Connectivity with native agent restored",
                    "Generated when connectivity with node#27s native agent restored.#0D#0AParameters:#0D#0A"
                    "   No message-specific parameters"}}),
             db().Query("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                        "WHERE event_code IN (31,32) ORDER BY event_code"));
   EXPECT_TRUE(db().Exec("INSERT INTO user_profiles (user_id,var_name,var_value) VALUES (1,'a','b')"));

   // 27 to 28: the rights under their new name.
   EXPECT_EQ((Rows{{"0", "65535"}, {"1", "3"}}), db().Query("SELECT id,system_access FROM users ORDER BY id"));
   EXPECT_EQ((Rows{{"-2147483648", "0"}}), db().Query("SELECT id,system_access FROM user_groups"));
   EXPECT_FALSE(ColumnExists("users", "access"));
   EXPECT_FALSE(ColumnExists("user_groups", "access"));

   // 28 to 31: zones, VPN connectors, their images.
   EXPECT_EQ((Rows{{"0"}, {"0"}, {"0"}, {"0"}}), db().Query("SELECT zone_guid FROM nodes ORDER BY id"));
   EXPECT_EQ((Rows{{"0"}}), db().Query("SELECT zone_guid FROM subnets"));
   EXPECT_TRUE(db().Exec("INSERT INTO zones (id,zone_guid,zone_type,controller_ip,description) "
                         "VALUES (1,1,0,'10.0.0.1','d')"));
   EXPECT_TRUE(db().Exec("INSERT INTO zone_ip_addr_list (zone_id,ip_addr) VALUES (1,'10.0.0.1')"));
   EXPECT_TRUE(db().Exec("INSERT INTO vpn_connectors (id,node_id,peer_gateway) VALUES (1,100,0)"));
   EXPECT_TRUE(db().Exec("INSERT INTO vpn_connector_networks (vpn_id,network_type,ip_addr,ip_netmask) "
                         "VALUES (1,0,'10.1.0.0','255.255.0.0')"));
   EXPECT_EQ((Rows{{"6", "13"}, {"12", "14"}}),
             db().Query("SELECT object_class,image_id FROM default_images WHERE object_class IN (6,12) "
                        "ORDER BY object_class"));
   EXPECT_EQ((Rows{{"13", "Obj.Zone", "zone.png", "<invalid_hash>", "zone.ico", "<invalid_hash>"},
                   {"14", "Obj.VPNConnector", "vpnc.png", "<invalid_hash>", "vpnc.ico", "<invalid_hash>"}}),
             db().Query("SELECT image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico FROM images "
                        "WHERE image_id IN (13,14) ORDER BY image_id"));

   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"SMSDriver", "<none>", "1,1"},   // there since 17: kept as it was
      {"AgentUpgradeWaitTime", "600", "1,0"},
      {"NumberOfUpgradeThreads", "10", "1,0"},
      {"IDataIndexCreationCommand_0", "CREATE INDEX idx_item_id ON idata_#25d(item_id)", "0,1"},
      {"IDataIndexCreationCommand_1", "CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)", "0,1"},
      {"EnableZoning", "0", "1,1"},
      {"StatusCalculationAlgorithm", "0", "1,1"},
      {"EnableMultipleDBConnections", "1", "1,1"},
      {"NumberOfDatabaseWriters", "1", "1,1"},
      {"DefaultEncryptionPolicy", "1", "1,1"},
      {"AllowedCiphers", "15", "1,1"},
      {"KeepAliveInterval", "60", "1,1"},
      {"NumberOfRoutingTablePollers", "5", "1,1"},
      {"RoutingTableUpdateInterval", "300", "1,1"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
   }
}

TEST_F(Upgrade21Test, From21To31AnsweredNo)
{
   UpgradeTo21();
   AddUpgradeStopper(db(), 31);
   time_t before = time(nullptr);
   ToolRun run = db().Run({"upgrade"}, "n");
   time_t after = time(nullptr);
   EXPECT_EQ(kStart + UpgradeLines(21, 25) + kIndexQuestion + "N\n" + UpgradeLines(25, 27) + kWarnings +
                UpgradeLines(27, 31) + kStopsAt31,
             StoppedAt(run.out, 31))
      << run.err;
   EXPECT_EQ(7, run.exitCode);
   RemoveUpgradeStopper(db(), 31);
   ExpectConvertedRows(before, after);
   for (const char *table : {"idata_100", "idata_101", "idata_102"})
      EXPECT_TRUE(IndexNames(db(), table).empty()) << table;

   // The templates and variables of the range read as a fresh database has
   // them (where a fresh database still has them at all).
   TestDatabase fresh;
   fresh.InitSchema();
   const std::string templates = "SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                                 "WHERE event_code IN (31,32) OR event_code BETWEEN 4009 AND 4011 ORDER BY event_code";
   EXPECT_EQ(fresh.Query(templates), db().Query(templates));
   const std::string variables = "SELECT var_name,var_value,is_visible,need_server_restart FROM config WHERE var_name IN "
                                 "('AgentUpgradeWaitTime','NumberOfUpgradeThreads','EnableZoning',"
                                 "'DefaultEncryptionPolicy','AllowedCiphers','KeepAliveInterval',"
                                 "'NumberOfRoutingTablePollers','RoutingTableUpdateInterval') ORDER BY var_name";
   EXPECT_EQ(fresh.Query(variables), db().Query(variables));
}

// -f answers the question: one timestamp index per live node's table, named
// after its table where index names are per schema.
TEST_F(Upgrade21Test, From21To31Forced)
{
   UpgradeTo21();
   AddUpgradeStopper(db(), 31);
   time_t before = time(nullptr);
   ToolRun run = db().Run({"-f", "upgrade"});
   time_t after = time(nullptr);
   EXPECT_EQ(kStart + UpgradeLines(21, 25) + kIndexQuestion + "Y\n" +
                "Creating indexes for table \"idata_100\"...\nCreating indexes for table \"idata_101\"...\n" +
                UpgradeLines(25, 27) + kWarnings + UpgradeLines(27, 31) + kStopsAt31,
             SortedIndexLines(StoppedAt(run.out, 31)))
      << run.err;
   RemoveUpgradeStopper(db(), 31);
   ExpectConvertedRows(before, after);
   for (const std::string id : {"100", "101"})
      EXPECT_EQ(std::vector<std::string>{IndexName("idata_" + id, "timestamp", "idx_timestamp")},
                IndexNames(db(), "idata_" + id))
         << id;
   EXPECT_TRUE(IndexNames(db(), "idata_102").empty());   // node 102 is deleted
}

// The old index command is moved whatever it holds, stored exactly as it was;
// without it only the new one is created.
TEST_F(Upgrade21Test, IndexCommandsWithAndWithoutTheOldOne)
{
   struct Case
   {
      const char *name;
      const char *stored;   // the old command as stored; null for none
   } cases[] = {
      {"custom", "CREATE INDEX idx_#25d_i ON idata_#25d(item_id) TABLESPACE #22fast#22"},
      {"missing", nullptr},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      TestDatabase other;
      LoadFormat14(other);
      AddUpgradeStopper(other, 21);
      ASSERT_EQ(7, other.Run({"upgrade"}, "n").exitCode);
      RemoveUpgradeStopper(other, 21);
      AddUpgradeStopper(other, 31);
      if (c.stored != nullptr)
         other.SetConfig("IDataIndexCreationCommand", c.stored);
      else
         other.DeleteConfig("IDataIndexCreationCommand");
      ToolRun run = other.Run({"upgrade"}, "n");
      EXPECT_EQ(kStart + UpgradeLines(21, 25) + kIndexQuestion + "N\n" + UpgradeLines(25, 31) + kStopsAt31,
                StoppedAt(run.out, 31));
      EXPECT_EQ("0", other.Value("SELECT COUNT(*) FROM config WHERE var_name='IDataIndexCreationCommand'"));
      const Rows copied = c.stored != nullptr ? Rows{{c.stored, "0", "1"}} : Rows{};
      EXPECT_EQ(copied,
                other.Query("SELECT var_value,is_visible,need_server_restart FROM config "
                            "WHERE var_name='IDataIndexCreationCommand_0'"));
      EXPECT_EQ("CREATE INDEX idx_timestamp ON idata_#25d(idata_timestamp)",
                other.Value("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand_1'"));
   }
}

// A select of the step from 26 that fails: without -X the step is rolled
// back and the upgrade stops at 26; with -X the step goes on without what
// needed the rows (the failure reported, the rest of the step done).
TEST_F(Upgrade21Test, FailedSelectsOfTheObjectPropertiesStep)
{
   struct Case
   {
      const char *name;
      const char *sabotage;   // run at 21
      const char *select;
      Rows properties;        // object_properties after the -X run
      const char *warnings;   // printed by the -X run
   } cases[] = {
      {"access list", "DROP TABLE access_options", "SELECT object_id,inherit_rights FROM access_options", {}, ""},
      // Interfaces are searched for every object not found among the nodes;
      // under -X the other tables still are, and the interfaces are reported
      // missing.
      {"class table", "ALTER TABLE interfaces DROP COLUMN image_id",
       "SELECT name,is_deleted,image_id,status FROM interfaces WHERE id=10",
       {{"1", "Main#27s net"}, {"2", "All Services"}, {"3", "Templates"}, {"10", "10.0.0.0"}, {"20", "Servers"},
        {"30", "Basic server"}, {"100", "router1"}, {"101", "server1"}, {"102", "old-host"}},
       "WARNING: object with ID 200 presented in access control tables but cannot be found in data tables\n"
       "WARNING: object with ID 201 presented in access control tables but cannot be found in data tables\n"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      const std::string failed = "SQL query failed:\n" + std::string(c.select) + "\n";
      for (bool skipErrors : {false, true})
      {
         TestDatabase other;
         LoadFormat14(other);
         AddUpgradeStopper(other, 21);
         ASSERT_EQ(7, other.Run({"upgrade"}, "n").exitCode);
         RemoveUpgradeStopper(other, 21);
         ASSERT_TRUE(other.Exec(c.sabotage));
         ASSERT_TRUE(other.Exec("UPDATE config SET var_value='Main#27s net' WHERE var_name='TopologyRootObjectName'"));
         if (!skipErrors)
         {
            ToolRun run = other.Run({"upgrade"}, "n");
            std::string out = run.out;
            const std::string head = kStart + UpgradeLines(21, 25) + kIndexQuestion + "N\n" + UpgradeLines(25, 27);
            EXPECT_EQ(head, out.substr(0, head.size()));
            EXPECT_NE(std::string::npos, out.find(failed + kRollback)) << out;
            EXPECT_EQ(7, run.exitCode);
            EXPECT_EQ("26", other.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
            // MySQL commits every CREATE TABLE at once: only there the new
            // table outlives the rollback.
            EXPECT_EQ(other.engine() == "mysql", other.Exec("SELECT * FROM object_properties"));
            EXPECT_EQ("Main#27s net", other.Value("SELECT var_value FROM config WHERE var_name='TopologyRootObjectName'"));
            continue;
         }
         // Nothing stops a run under -X: it is looked at up to 31.
         ToolRun run = other.Run({"-X", "upgrade"}, "n");
         std::string out = OutputBefore(run.out, 31);
         EXPECT_NE(std::string::npos, out.find(UpgradeLines(26, 27))) << out;
         EXPECT_NE(std::string::npos, out.find(failed)) << out;
         // Each warning follows the failure reports of its own search.
         const std::string warnings = c.warnings;
         for (size_t start = 0, end; (end = warnings.find('\n', start)) != std::string::npos; start = end + 1)
            EXPECT_NE(std::string::npos, out.find(warnings.substr(start, end - start + 1))) << out;
         EXPECT_EQ(std::string::npos, run.out.find("Rolling back")) << run.out;
         EXPECT_LE(31, atoi(other.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'").c_str()));
         Rows properties;
         for (const auto &row :
              other.Query("SELECT object_id,name FROM object_properties WHERE object_id<1000 ORDER BY object_id"))
            properties.push_back(row);
         EXPECT_EQ(c.properties.size(), properties.size());
         for (size_t i = 0; i < std::min(properties.size(), c.properties.size()); i++)
            EXPECT_EQ(c.properties[i], properties[i]);
         // The rest of the step went through around the failure.
         EXPECT_EQ("SYS_AGENT_OK", other.Value("SELECT event_name FROM event_cfg WHERE event_code=32"));
         EXPECT_EQ("<none>", other.Value("SELECT var_value FROM config WHERE var_name='TopologyRootObjectName'"));
         EXPECT_FALSE(other.Exec("SELECT name FROM nodes"));
      }
   }
}

// Replaces the time in the object_properties inserts, which differs per run.
std::string WithoutTimes(const std::string &text)
{
   static const std::regex stamp(",[0-9]{9,}\\)\n");
   return std::regex_replace(text, stamp, ",<time>)\n");
}

// The step from 26 as the operator sees it under -t: every select, the
// configuration reads of the roots, each insert, the dropped columns.
TEST_F(Upgrade21Test, TraceOfStep26To27)
{
   UpgradeTo21();
   // Rows in the order of their ids on every engine.
   ASSERT_TRUE(db().Exec("DELETE FROM access_options"));
   for (const char *row : {"1,0", "3,0", "5,1", "30,1", "50,1", "999,1"})
      ASSERT_TRUE(db().Exec(std::string("INSERT INTO access_options (object_id,inherit_rights) VALUES (") + row + ")"));
   ToolRun run = db().Run({"-t", "upgrade"}, "n");
   const std::string out = OutputBefore(run.out, 27);
   const std::string step = out.substr(std::min(out.size(), out.find(UpgradeLines(26, 27))));
   const std::string text = db().engine() == "mysql" ? "text" : "varchar";
   const std::string insert = ">>> INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,"
                              "inherit_access_rights,last_modified) VALUES ";
   std::string expected =
      UpgradeLines(26, 27) +
      ">>> CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,status integer not "
      "null,is_deleted integer not null,image_id integer,last_modified integer not null,inherit_access_rights "
      "integer not null,PRIMARY KEY(object_id))\n"
      ">>> CREATE TABLE user_profiles (user_id integer not null,var_name varchar(255) not null,var_value " + text +
      ",PRIMARY KEY(user_id,var_name))\n"
      ">>> SELECT object_id,inherit_rights FROM access_options\n"
      ">>> SELECT var_value FROM config WHERE var_name='TopologyRootObjectName'\n"
      ">>> SELECT var_value FROM config WHERE var_name='TopologyRootImageId'\n" +
      insert + "(1,'Main#27s net',5,0,4,0,<time>)\n"
      ">>> SELECT var_value FROM config WHERE var_name='TemplateRootObjectName'\n"
      ">>> SELECT var_value FROM config WHERE var_name='TemplateRootImageId'\n" +
      insert + "(3,'All Services',5,0,0,0,<time>)\n"
      "WARNING: Invalid built-in object ID 5\n"
      ">>> SELECT name,is_deleted,image_id,status FROM nodes WHERE id=30\n"
      ">>> SELECT name,is_deleted,image_id,status FROM interfaces WHERE id=30\n"
      ">>> SELECT name,is_deleted,image_id,status FROM subnets WHERE id=30\n"
      ">>> SELECT name,is_deleted,image_id FROM templates WHERE id=30\n" +
      insert + "(30,'Basic server',5,0,8,1,<time>)\n"
      ">>> SELECT name,is_deleted,image_id,status FROM nodes WHERE id=50\n"
      ">>> SELECT name,is_deleted,image_id,status FROM interfaces WHERE id=50\n"
      ">>> SELECT name,is_deleted,image_id,status FROM subnets WHERE id=50\n"
      ">>> SELECT name,is_deleted,image_id FROM templates WHERE id=50\n"
      ">>> SELECT name,is_deleted,image_id,status FROM network_services WHERE id=50\n" +
      insert + "(50,'http',2,0,12,1,<time>)\n";
   for (const char *table : {"nodes", "interfaces", "subnets", "templates", "network_services", "containers"})
      expected += ">>> SELECT name,is_deleted,image_id" + std::string(strcmp(table, "templates") ? ",status" : "") +
                  " FROM " + table + " WHERE id=999\n";
   expected += "WARNING: object with ID 999 presented in access control tables but cannot be found in data tables\n";
   for (const char *table : {"nodes", "interfaces", "subnets", "network_services", "containers"})
      for (const char *column : {"name", "status", "is_deleted", "image_id"})
         expected += ">>> ALTER TABLE " + std::string(table) + " DROP COLUMN " + column + "\n";
   expected += ">>> ALTER TABLE templates DROP COLUMN name\n"
               ">>> ALTER TABLE templates DROP COLUMN is_deleted\n"
               ">>> ALTER TABLE templates DROP COLUMN image_id\n"
               ">>> DROP TABLE access_options\n";
   for (const char *root : {"Topology", "Service", "Template"})
      expected += ">>> DELETE FROM config WHERE var_name='" + std::string(root) + "RootObjectName'\n"
                  ">>> DELETE FROM config WHERE var_name='" + root + "RootImageId'\n";
   expected += ">>> INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (31,"
               "'SYS_SNMP_OK',0,1,'Connectivity with SNMP agent restored','Generated when connectivity with node#27s "
               "SNMP agent restored.#0D#0AParameters:#0D#0A   No message-specific parameters')\n"
               ">>> INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (32,"
               "'SYS_AGENT_OK',0,1,'Connectivity with native agent restored','Generated when connectivity with "
               "node#27s native agent restored.#0D#0AParameters:#0D#0A   No message-specific parameters')\n"
               ">>> UPDATE config SET var_value='27' WHERE var_name='DBFormatVersion'\n";
   EXPECT_EQ(expected, WithoutStepMarks(WithoutTimes(step)));
}

// Once every range is in, the baseline upgraded all the way has the index
// names of its own tables, and reindex rebuilds its indexes without a failure.
TEST_F(Upgrade21Test, ReindexRunsCleanAfterTheWholeUpgrade)
{
   ASSERT_TRUE(db().Exec("DELETE FROM events WHERE event_id=4009"));   // the fixture's stopper
   ToolRun run = db().Run({"-f", "upgrade"});
   if (run.out.find("Unable to find upgrade procedure") != std::string::npos && Version() >= 31)
      GTEST_SKIP() << "the steps after " << Version() << " are not in this build yet";
   ASSERT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("SQL query failed")) << run.out;
   EXPECT_EQ(83, Version());
   // Where names are per schema the upgrade already named it as reindex does.
   std::vector<std::string> rawIndexes = IndexNames(db(), "raw_dci_values");
   EXPECT_EQ(PerSchemaIndexNames(),
             std::find(rawIndexes.begin(), rawIndexes.end(), "idx_raw_dci_values_item_id") != rawIndexes.end());
   run = db().Run({"reindex"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("failed")) << run.out;
}

}  // namespace
