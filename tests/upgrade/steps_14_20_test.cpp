// Upgrading the format-14 baseline to 21, end to end: what the run prints,
// what every step leaves in the database, and how the steps with logic of
// their own (the policy event list, the node flags) meet failures.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

// Every run from the baseline without -X stops here: the fixture's stopper
// fails the step from 21 (StoppedAt shows that as a missing procedure).
const std::string kStopsAt21 = NoProcedure(21);

const char kThresholdReached[] =
   "Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A"
   "   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A"
   "   5) Data collection item ID#0D#0A   6) Instance";
const char kCustomThreshold[] =
   "Custom data collection threshold event.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A"
   "   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A"
   "   5) Data collection item ID#0D#0A   6) Instance";

// Rows come in the order the engine returns them, which is not the order of
// their ids everywhere (PostgreSQL returns updated rows later). Sorts each run
// of consecutive units of |linesPerUnit| lines whose first line starts with
// |prefix|, so that two outputs compare whatever that order was.
std::string SortRuns(const std::string &text, const std::string &prefix, size_t linesPerUnit)
{
   std::vector<std::string> lines;
   size_t start = 0;
   for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start + 1));
   std::string rest = text.substr(start);
   std::string out;
   for (size_t i = 0; i < lines.size();)
   {
      std::vector<std::string> units;
      while (i + linesPerUnit <= lines.size() && lines[i].compare(0, prefix.size(), prefix) == 0)
      {
         std::string unit;
         for (size_t k = 0; k < linesPerUnit; k++)
            unit += lines[i + k];
         units.push_back(unit);
         i += linesPerUnit;
      }
      std::sort(units.begin(), units.end());
      for (const std::string &unit : units)
         out += unit;
      if (units.empty())
         out += lines[i++];
   }
   return out + rest;
}

// The node rows of the step from 20 in a fixed order.
std::string InNodeOrder(const std::string &text)
{
   return SortRuns(SortRuns(text, ">>> UPDATE nodes SET node_flags=", 1), "Creating indexes for table ", 2);
}

class Upgrade14Test : public UpgradeTest
{
protected:
   void SetUpDatabase() override
   {
      LoadFormat14(db());
      AddUpgradeStopper(db(), 21);
   }

   // Brings the baseline to format 20 with the tool itself: an event 30
   // already there makes the step from 20 fail at its first statement and
   // roll back; the event is then removed again.
   void UpgradeTo20()
   {
      ASSERT_TRUE(db().Exec("INSERT INTO events (event_id,name,severity,flags,message,description) "
                            "VALUES (30,'X',0,1,'x','#00')"));
      ToolRun run = db().Run({"upgrade"});
      ASSERT_EQ(kStart + UpgradeLines(14, 21), run.out.substr(0, kStart.size() + UpgradeLines(14, 21).size()))
         << run.out;
      ASSERT_EQ("20", Config("DBFormatVersion")) << run.out;
      ASSERT_TRUE(db().Exec("DELETE FROM event_cfg WHERE event_code=30"));
   }

   // Everything the seven steps convert or create, as the baseline's rows
   // come out of them (the idata indexes aside: they depend on the answer).
   void ExpectConvertedRows();
};

void Upgrade14Test::ExpectConvertedRows()
{
   RemoveUpgradeStopper(db(), 21);
   EXPECT_EQ("21", Config("DBFormatVersion"));

   // 14 to 15: item instances, mail settings, threshold descriptions.
   EXPECT_EQ((Rows{{""}, {""}, {""}}), db().Query("SELECT instance FROM items ORDER BY item_id"));
   EXPECT_EQ("localhost", Config("SMTPServer"));
   EXPECT_EQ("1,0", ConfigFlags("SMTPServer"));
   EXPECT_EQ("korvel@localhost", Config("SMTPFromAddr"));
   EXPECT_EQ("1,0", ConfigFlags("SMTPFromAddr"));
   EXPECT_EQ((Rows{{"17", kThresholdReached}, {"4000", kThresholdReached}, {"4001", kThresholdReached},
                   {"4002", kThresholdReached}, {"4003", kThresholdReached}, {"4004", kThresholdReached},
                   {"4005", kCustomThreshold}, {"4006", kCustomThreshold}, {"4007", kCustomThreshold},
                   {"4008", kCustomThreshold}}),
             db().Query("SELECT event_code,description FROM event_cfg WHERE event_code=17 OR "
                        "(event_code>=4000 AND event_code<5000) ORDER BY event_code"));
   EXPECT_EQ("Generated when threshold check is rearmed for specific data collection item.#0D#0AParameters:#0D#0A"
             "   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Data collection item ID",
             db().Value("SELECT description FROM event_cfg WHERE event_code=18"));

   // Every template of the range, with the texts the server shows.
   EXPECT_EQ((Rows{{"25", "SYS_SERVICE_DOWN", "3", "1", "Network service #22%1#22 is not responding"},
                   {"26", "SYS_SERVICE_UP", "0", "1", "Network service #22%1#22 returned to operational state"},
                   {"27", "SYS_SERVICE_UNKNOWN", "1", "1", "Status of network service #22%1#22 is unknown"},
                   {"28", "SYS_NODE_DOWN", "4", "1", "Node down"},
                   {"29", "SYS_NODE_UP", "0", "1", "Node up"},
                   {"30", "SYS_SMS_FAILURE", "1", "1", "Unable to send SMS to phone %1"},
                   {"500", "SNMP_UNMATCHED_TRAP", "0", "1", "SNMP trap received: %1 (Parameters: %2)"},
                   {"501", "SNMP_COLD_START", "0", "1", "System was cold-started"},
                   {"502", "SNMP_WARM_START", "0", "1", "System was warm-started"},
                   {"503", "SNMP_LINK_DOWN", "3", "1", "Link is down"},
                   {"504", "SNMP_LINK_UP", "0", "1", "Link is up"},
                   {"505", "SNMP_AUTH_FAILURE", "1", "1", "SNMP authentication failure"},
                   {"506", "SNMP_EGP_NEIGHBOR_LOSS", "1", "1", "EGP neighbor loss"},
                   {"4003", "DC_AGENT_RESTARTED", "0", "1", "Korvel agent was restarted within last 5 minutes"},
                   {"4004", "DC_SERVICE_NOT_RUNNING", "3", "1", "Service #22%6#22 is not running"},
                   {"4005", "DC_MAILBOX_TOO_LARGE", "1", "1",
                    "Mailbox #22%6#22 exceeds size limit (allowed size: %3; actual size: %4)"},
                   {"4006", "DC_AGENT_VERSION_CHANGE", "0", "1", "Korvel agent version was changed from %3 to %4"},
                   {"4007", "DC_HOSTNAME_CHANGE", "1", "1", "Host name was changed from %3 to %4"},
                   {"4008", "DC_FILE_CHANGE", "1", "1", "File #22%6#22 was changed"}}),
             db().Query("SELECT event_code,event_name,severity,flags,message FROM event_cfg WHERE "
                        "event_code BETWEEN 25 AND 30 OR event_code BETWEEN 500 AND 506 OR "
                        "event_code BETWEEN 4003 AND 4008 ORDER BY event_code"));
   EXPECT_EQ("Generated when system receives a coldStart SNMP trap#0D#0AParameters:#0D#0A   1) SNMP trap OID",
             db().Value("SELECT description FROM event_cfg WHERE event_code=501"));
   EXPECT_EQ("Generated when server is unable to send SMS.#0D#0A   Parameters:#0D#0A   1) Phone number",
             db().Value("SELECT description FROM event_cfg WHERE event_code=30"));
   // The baseline's own templates came over from "events", which is gone.
   EXPECT_EQ("46", db().Value("SELECT COUNT(*) FROM event_cfg"));
   EXPECT_EQ("SYS_NODE_ADDED", db().Value("SELECT event_name FROM event_cfg WHERE event_code=1"));
   EXPECT_FALSE(TableExists("events"));

   // 16 to 17: traps, the configuration lock.
   EXPECT_FALSE(TableExists("locks"));
   EXPECT_EQ((Rows{{"1", ".1.3.6.1.6.3.1.1.5.1", "501", "Generic coldStart trap"},
                   {"2", ".1.3.6.1.6.3.1.1.5.2", "502", "Generic warmStart trap"},
                   {"3", ".1.3.6.1.6.3.1.1.5.3", "503", "Generic linkDown trap"},
                   {"4", ".1.3.6.1.6.3.1.1.5.4", "504", "Generic linkUp trap"},
                   {"5", ".1.3.6.1.6.3.1.1.5.5", "505", "Generic authenticationFailure trap"},
                   {"6", ".1.3.6.1.6.3.1.1.5.6", "506", "Generic egpNeighborLoss trap"}}),
             db().Query("SELECT trap_id,snmp_oid,event_code,description FROM snmp_trap_cfg ORDER BY trap_id"));
   EXPECT_FALSE(ColumnExists("snmp_trap_cfg", "event_id"));
   EXPECT_EQ((Rows{{"3", "1", ".1.3.6.1.2.1.2.2.1.1", "Interface index"},
                   {"4", "1", ".1.3.6.1.2.1.2.2.1.1", "Interface index"}}),
             db().Query("SELECT trap_id,parameter,snmp_oid,description FROM snmp_trap_pmap ORDER BY trap_id"));

   // 17 to 18: the policy event list keyed by event code; events, alarms,
   // nodes, and the tables re-created empty.
   EXPECT_EQ((Rows{{"0", "-2147483647"}, {"0", "4"}, {"1", "3"}}),
             db().Query("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"));
   EXPECT_FALSE(db().Exec("INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,3)"));   // keyed now
   EXPECT_EQ((Rows{{"1", "5", "0"}, {"2", "4", "0"}}),
             db().Query("SELECT alarm_id,source_event_code,source_event_id FROM alarms ORDER BY alarm_id"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM event_group_members"));
   EXPECT_TRUE(ColumnExists("event_group_members", "group_id,event_code"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM event_log"));
   EXPECT_TRUE(ColumnExists("event_log", "event_id,event_code,root_event_id"));
   EXPECT_TRUE(db().Exec("INSERT INTO modules (module_id,module_name,exec_name,module_flags,description,license_key) "
                         "VALUES (1,'m','m.nxm',0,'d','#00')"));
   EXPECT_FALSE(ColumnExists("nodes", "inherit_access_rights"));

   // 18 to 21: node columns, the node flags, network services.
   EXPECT_EQ((Rows{{"100", "<unknown>", "", "0", "3"}, {"101", "<unknown>", "", "0", "31"}, {"102", "", "", "0", "0"}}),
             db().Query("SELECT id,agent_version,platform_name,poller_node_id,node_flags FROM nodes ORDER BY id"));
   for (const char *column : {"is_snmp", "is_agent", "is_bridge", "is_router", "is_local_mgmt", "is_ospf"})
      EXPECT_FALSE(ColumnExists("nodes", column)) << column;
   EXPECT_EQ((Rows{{"12", "Obj.NetworkService", "network_service.png"}}),
             db().Query("SELECT image_id,name,file_name_png FROM images WHERE image_id=12"));
   EXPECT_EQ("12", db().Value("SELECT image_id FROM default_images WHERE object_class=11"));
   EXPECT_TRUE(db().Exec("INSERT INTO agent_pkg (pkg_id,pkg_name,version,platform,pkg_file,description) "
                         "VALUES (1,'a','1.0','linux','a.tgz','#00')"));
   EXPECT_TRUE(db().Exec("INSERT INTO network_services (id,name,status,is_deleted,node_id,service_type,ip_bind_addr,"
                         "ip_proto,ip_port,check_request,check_responce,poller_node_id,image_id) "
                         "VALUES (1,'http',0,0,100,1,'0.0.0.0',6,80,'GET /','200',0,12)"));

   // The variables: the lock free and empty, the pollers, the index command
   // the server runs (stored as documented whatever the dialect names its
   // own indexes).
   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"DBLockStatus", "UNLOCKED", "0,1"},
      {"DBLockInfo", "#00", "0,0"},
      {"EnableSNMPTraps", "1", "1,1"},
      {"SMSDriver", "<none>", "1,1"},
      {"NumberOfStatusPollers", "10", "1,1"},
      {"NumberOfConfigurationPollers", "4", "1,1"},
      {"IDataIndexCreationCommand", "CREATE INDEX idx_item_id ON idata_#25d(item_id)", "0,1"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
   }
   EXPECT_EQ(std::vector<std::string>{PerSchemaIndexNames() ? "idx_thresholds_item_id" : "idx_item_id"},
             IndexNames(db(), "thresholds"));
}

TEST_F(Upgrade14Test, From14To21AnsweredNo)
{
   // The edges of the threshold range: 4999 is in it, 5000 is not.
   for (const char *code : {"4999", "5000"})
      ASSERT_TRUE(db().Exec(std::string("INSERT INTO events (event_id,name,severity,flags,message,description) "
                                        "VALUES (") + code + ",'CUSTOM_" + code + "',0,1,'m','Own text')"));
   ToolRun run = db().Run({"upgrade"}, "n");
   EXPECT_EQ(kStart + UpgradeLines(14, 21) + kIndexQuestion + "N\n" + kStopsAt21, StoppedAt(run.out, 21)) << run.err;
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ((Rows{{"16", "Generated when one of the server threads stops responding.#0D#0AParameters:#0D#0A"
                          "   1) Thread name"},
                   {"4999", kThresholdReached}, {"5000", "Own text"}}),
             db().Query("SELECT event_code,description FROM event_cfg WHERE event_code IN (16,4999,5000) "
                        "ORDER BY event_code"));
   ASSERT_TRUE(db().Exec("DELETE FROM event_cfg WHERE event_code IN (4999,5000)"));
   ExpectConvertedRows();
   for (const char *table : {"idata_100", "idata_101", "idata_102"})
      EXPECT_TRUE(IndexNames(db(), table).empty()) << table;

   // The templates of the range read as a fresh database has them.
   TestDatabase fresh;
   fresh.InitSchema();
   const std::string templates = "SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                                 "WHERE event_code IN (17,18) OR event_code BETWEEN 25 AND 30 OR "
                                 "event_code BETWEEN 500 AND 506 OR event_code BETWEEN 4000 AND 4008 ORDER BY event_code";
   EXPECT_EQ(fresh.Query(templates), db().Query(templates));
   const std::string variables = "SELECT var_name,var_value,is_visible,need_server_restart FROM config WHERE var_name IN "
                                 "('SMTPServer','SMTPFromAddr','EnableSNMPTraps','SMSDriver','DBLockStatus',"
                                 "'DBLockInfo','NumberOfStatusPollers','NumberOfConfigurationPollers') ORDER BY var_name";
   EXPECT_EQ(fresh.Query(variables), db().Query(variables));
}

TEST_F(Upgrade14Test, From14To21ForcedCreatesTheIdataIndexes)
{
   ToolRun run = db().Run({"-f", "upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(14, 21) + kIndexQuestion + "Y\n" +
                "Creating indexes for table \"idata_100\"...\nCreating indexes for table \"idata_101\"...\n" +
                kStopsAt21,
             SortRuns(StoppedAt(run.out, 21), "Creating indexes for table ", 1))
      << run.err;
   EXPECT_EQ(7, run.exitCode);
   ExpectConvertedRows();
   // Node 102 is deleted: its table gets none.
   for (const std::string id : {"100", "101"})
      EXPECT_EQ(std::vector<std::string>{PerSchemaIndexNames() ? "idx_idata_" + id + "_item_id" : "idx_item_id"},
                IndexNames(db(), "idata_" + id))
         << id;
   EXPECT_TRUE(IndexNames(db(), "idata_102").empty());
}

// Each of the six columns sets its own bit; OSPF is 0x40, not 0x20.
TEST_F(Upgrade14Test, NodeFlagsFromEveryColumn)
{
   UpgradeTo20();
   ASSERT_TRUE(db().Exec("UPDATE nodes SET is_ospf=1 WHERE id IN (100,101)"));
   const char *columns[] = {"is_snmp", "is_agent", "is_bridge", "is_router", "is_local_mgmt", "is_ospf"};
   for (int i = 0; i < 6; i++)
   {
      std::string values = "0,0,0,0,0,0";
      values[2 * i] = '1';
      std::string id = std::to_string(110 + i);
      ASSERT_TRUE(db().Exec("INSERT INTO nodes (id,name,status,is_deleted,image_id,primary_ip,snmp_version,community,"
                            "snmp_oid,auth_method,secret,agent_port,node_type,description,agent_version,"
                            "platform_name,poller_node_id,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,is_ospf) "
                            "VALUES (" + id + ",'n" + id + "',0,1,2,'10.0.1." + id +
                            "',1,'public','#00',0,'#00',4700,0,'#00','','',0," + values + ")"))
         << columns[i];
   }
   ToolRun run = db().Run({"upgrade"}, "n");
   EXPECT_EQ(kStart + UpgradeLines(20, 21) + kIndexQuestion + "N\n" + kStopsAt21, StoppedAt(run.out, 21));
   EXPECT_EQ((Rows{{"100", "67"}, {"101", "95"}, {"102", "0"}, {"110", "1"}, {"111", "2"}, {"112", "4"},
                   {"113", "8"}, {"114", "16"}, {"115", "64"}}),
             db().Query("SELECT id,node_flags FROM nodes ORDER BY id"));
}

// A pair listed twice cannot go into the keyed list. Without -X the step
// fails and leaves the list as it was, on every engine: on MySQL, where the
// DDL is not rolled back, the copy goes into a table of its own first. With
// the duplicate gone the next run completes; with -X it is passed over.
TEST_F(Upgrade14Test, DuplicatePolicyPair)
{
   const Rows original = {{"0", "-2147483647"}, {"0", "4"}, {"0", "4"}, {"1", "3"}};
   const Rows keyed = {{"0", "-2147483647"}, {"0", "4"}, {"1", "3"}};
   ASSERT_TRUE(db().Exec("INSERT INTO policy_event_list (rule_id,event_id) VALUES (0,4)"));

   ToolRun run = db().Run({"upgrade"}, "n");
   const std::string insert = IsMySql() ? "INSERT INTO policy_event_list_rebuild_new" : "INSERT INTO policy_event_list";
   EXPECT_EQ(kStart + UpgradeLines(14, 18) + "SQL query failed (ERR):\n" + insert +
                " (rule_id,event_code) VALUES (0,4)\n" + kRollback,
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("17", Config("DBFormatVersion"));
   EXPECT_EQ(original, db().Query("SELECT rule_id,event_id FROM policy_event_list ORDER BY rule_id,event_id"));
   EXPECT_FALSE(TableExists("event_cfg"));
   EXPECT_FALSE(TableExists("policy_event_list_rebuild_new"));

   // Fixed by hand; on MySQL a run killed half-way would also have left a
   // partial copy behind, which the next run must not trip over.
   ASSERT_TRUE(db().Exec("DELETE FROM policy_event_list WHERE rule_id=0 AND event_id=4"));
   ASSERT_TRUE(db().Exec("INSERT INTO policy_event_list (rule_id,event_id) VALUES (0,4)"));
   if (IsMySql())
   {
      ASSERT_TRUE(db().Exec("CREATE TABLE policy_event_list_rebuild_new (rule_id integer not null,"
                            "event_code integer not null,PRIMARY KEY(rule_id,event_code))"));
      ASSERT_TRUE(db().Exec("INSERT INTO policy_event_list_rebuild_new VALUES (0,4)"));
   }
   run = db().Run({"upgrade"}, "n");
   EXPECT_EQ(kStart + UpgradeLines(17, 21) + kIndexQuestion + "N\n" + kStopsAt21, StoppedAt(run.out, 21));
   EXPECT_EQ(keyed, db().Query("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"));
   EXPECT_FALSE(TableExists("policy_event_list_rebuild_new"));
   EXPECT_FALSE(TableExists("policy_event_list_rebuild_old"));

   // -X on another copy of the baseline: the second (0,4) is reported and
   // skipped, everything else goes through.
   TestDatabase other;
   LoadFormat14(other);
   ASSERT_TRUE(other.Exec("INSERT INTO policy_event_list (rule_id,event_id) VALUES (0,4)"));
   run = other.Run({"-X", "upgrade"}, "n");
   EXPECT_NE(std::string::npos, run.out.find("):\n" + insert + " (rule_id,event_code) VALUES (0,4)\n"
                                             "Upgrading from version 18 to 19\n"))
      << run.out;
   EXPECT_TRUE(EndsWith(OutputBefore(run.out, 21), kIndexQuestion + "N\n")) << run.out;
   EXPECT_EQ(keyed, other.Query("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"));
   EXPECT_LE(21, std::stoi(other.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'")));
}

// The mail variables of 14 to 15 are plain inserts: a variable already there
// fails the step unless -X. Under -X, and in the later steps that create
// variables only where missing, every value already there is kept.
TEST_F(Upgrade14Test, ExistingVariablesKeepTheirValues)
{
   db().SetConfig("SMTPServer", "mail.example.com");
   ToolRun run = db().Run({"upgrade"}, "n");
   EXPECT_EQ(kStart + UpgradeLines(14, 15) +
                "SQL query failed (ERR):\nINSERT INTO config (var_name,var_value,is_visible,need_server_restart) "
                "VALUES ('SMTPServer','localhost',1,0)\n" + kRollback,
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("14", Config("DBFormatVersion"));
   EXPECT_EQ("mail.example.com", Config("SMTPServer"));
   EXPECT_EQ("<none>", Config("SMTPFromAddr"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM events WHERE event_id IN (4003,4004)"));

   db().SetConfig("SMTPFromAddr", "noc#40example.com");
   db().SetConfig("DBLockInfo", "last run#3A Monday");
   db().SetConfig("EnableSNMPTraps", "0");
   db().SetConfig("SMSDriver", "gsm.sms");
   db().SetConfig("NumberOfStatusPollers", "25");
   run = db().Run({"-X", "upgrade"}, "n");
   EXPECT_TRUE(EndsWith(OutputBefore(run.out, 21), kIndexQuestion + "N\n")) << run.out;
   EXPECT_LE(21, std::stoi(Config("DBFormatVersion")));
   struct Variable
   {
      const char *name, *value;
   } kept[] = {
      {"SMTPServer", "mail.example.com"}, {"SMTPFromAddr", "noc#40example.com"}, {"DBLockStatus", "UNLOCKED"},
      {"DBLockInfo", "last run#3A Monday"}, {"EnableSNMPTraps", "0"}, {"SMSDriver", "gsm.sms"},
      {"NumberOfStatusPollers", "25"}, {"NumberOfConfigurationPollers", "4"},
   };
   for (const Variable &v : kept)
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
   // The rest of 14 to 15 went through around the two failed inserts.
   EXPECT_EQ(kThresholdReached, db().Value("SELECT description FROM event_cfg WHERE event_code=4003"));
}

// A select that fails in a step with logic of its own: without -X the step
// fails and is rolled back; under -X it goes on without what needed the rows.
TEST_F(Upgrade14Test, FailedSelects)
{
   struct Case
   {
      const char *name;
      const char *sabotage;    // run on the baseline
      const char *answer;      // to the index question
      int failsFrom;
      const char *select;
   } cases[] = {
      {"policy list", "DROP TABLE policy_event_list", "n", 17, "SELECT rule_id,event_id FROM policy_event_list"},
      {"node flags", "ALTER TABLE nodes DROP COLUMN is_local_mgmt", "n", 20,
       "SELECT id,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,is_ospf FROM nodes"},
      {"live nodes", "ALTER TABLE nodes DROP COLUMN is_deleted", "y", 20, "SELECT id FROM nodes WHERE is_deleted=0"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      const std::string failed = "SQL query failed:\n" + std::string(c.select) + "\n";
      TestDatabase fails;
      LoadFormat14(fails);
      ASSERT_TRUE(fails.Exec(c.sabotage));
      ToolRun run = fails.Run({"upgrade"}, c.answer);
      std::string question = c.answer[0] == 'y' ? kIndexQuestion + "Y\n" : "";
      EXPECT_EQ(kStart + UpgradeLines(14, c.failsFrom + 1) + question + failed + kRollback, run.out);
      EXPECT_EQ(7, run.exitCode);
      EXPECT_EQ(std::to_string(c.failsFrom), fails.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));

      TestDatabase goesOn;
      LoadFormat14(goesOn);
      ASSERT_TRUE(goesOn.Exec(c.sabotage));
      run = goesOn.Run({"-X", "upgrade"}, c.answer);
      EXPECT_NE(std::string::npos, run.out.find(failed)) << run.out;
      EXPECT_EQ(std::string::npos, run.out.find("Rolling back")) << run.out;
      EXPECT_LE(21, std::stoi(goesOn.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'")));
      // What came after the failed select took effect.
      EXPECT_EQ("10", goesOn.Value("SELECT var_value FROM config WHERE var_name='NumberOfStatusPollers'"));
      EXPECT_EQ("SYS_SMS_FAILURE", goesOn.Value("SELECT event_name FROM event_cfg WHERE event_code=30"));
      EXPECT_EQ(std::string::npos, OutputBefore(run.out, 21).find("Creating indexes")) << run.out;
   }
}

// The statements of the step from 20 as the operator sees them under -t, on
// this engine's dialect.
TEST_F(Upgrade14Test, TraceOfStep20To21)
{
   UpgradeTo20();
   ToolRun run = db().Run({"-t", "-f", "upgrade"});
   // On MySQL the step is marked started (the failed run of UpgradeTo20 left
   // the mark, so it is updated) and the mark goes after the version.
   const std::string mark = IsMySql() ? ">>> UPDATE config SET var_value='20' WHERE var_name='DBUpgradeStepStarted'\n" : "";
   const std::string unmark = IsMySql() ? ">>> DELETE FROM config WHERE var_name='DBUpgradeStepStarted'\n" : "";
   const std::string expected = kStart + "Upgrading from version 20 to 21\n" + mark +
                                TraceOfStep20({"3", "31", "0"}, PerSchemaIndexNames()) + unmark + kStopsAt21;
   EXPECT_EQ(InNodeOrder(expected), InNodeOrder(StoppedAt(run.out, 21)));
}

// -I puts the table type on the two tables created through the table-creation
// path (agent packages, network services) and on no other.
TEST_F(Upgrade14Test, TableTypeOnlyWhereDocumented)
{
   ToolRun run = db().Run({"-t", "-I", "upgrade"}, "n");
   ASSERT_EQ(7, run.exitCode) << run.out;
   std::vector<std::string> suffixed;
   size_t start = 0;
   for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
   {
      std::string line = run.out.substr(start, end - start);
      if (line.find("ENGINE=") != std::string::npos)
         suffixed.push_back(line.substr(0, line.find(" (")));
   }
   std::vector<std::string> expected;
   if (IsMySql())
      expected = {">>> CREATE TABLE agent_pkg", ">>> CREATE TABLE network_services"};
   EXPECT_EQ(expected, suffixed) << run.out;
   // The long-text type of event_cfg and modules is the dialect's own.
   const std::string text = IsMySql() ? "text" : "varchar";
   EXPECT_NE(std::string::npos, run.out.find("message varchar(255),description " + text + ",PRIMARY KEY(event_code))\n"))
      << run.out;
   EXPECT_NE(std::string::npos, run.out.find("description " + text + ",license_key varchar(255),PRIMARY KEY(module_id))\n"))
      << run.out;
}

}  // namespace
