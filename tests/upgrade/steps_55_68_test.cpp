// Upgrading the format-14 baseline, brought to 55 by the tool itself, on to
// 83: every row the steps from 55 to 69 convert or add, and the community
// column of the step from 64 on each engine, with its fallback on PostgreSQL.
#include <string>
#include <vector>

#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

const std::string kSqliteWarning =
   "WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
   "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n";
const std::string kWiden = "ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)";
const std::string kFallback =
   ">>> ALTER TABLE nodes ADD new_community varchar(127)\n"
   ">>> UPDATE nodes SET new_community=community\n"
   ">>> ALTER TABLE nodes DROP COLUMN community\n"
   ">>> ALTER TABLE nodes RENAME COLUMN new_community TO community\n"
   ">>> ALTER TABLE nodes ALTER COLUMN community SET NOT NULL\n";

// What a run from 55 prints: on SQLite the step from 64 warns instead of
// widening the column.
std::string From55To83(const std::string &dialect)
{
   return kStart + UpgradeLines(55, 65) + (dialect == "sqlite" ? kSqliteWarning : "") + UpgradeLines(65, 83) +
          kSucceeded;
}

class Upgrade55Test : public UpgradeTest
{
protected:
   // The baseline, upgraded by the tool to 55: its stopper makes the step
   // from 55 fail at its first statement, before it changed anything on any
   // engine.
   void SetUpDatabase() override
   {
      LoadFormat14(db());
      AddUpgradeStopper(db(), 55);
      ToolRun run = db().Run({"-f", "upgrade"});
      ASSERT_NE(std::string::npos, run.out.find(UpgradeLines(54, 56) + "SQL query failed (")) << run.out;
      ASSERT_TRUE(EndsWith(run.out, kRollback)) << run.out;
      ASSERT_EQ("55", Config("DBFormatVersion")) << run.out;
      RemoveUpgradeStopper(db(), 55);
   }

   // The SQL the engine speaks (the odbc engine reaches PostgreSQL).
   static std::string Dialect() { return CurrentEngine().dialect; }
   // The declared type of nodes.community and whether it may be null, as the engine reports them.
   std::string CommunityType()
   {
      if (Dialect() == "sqlite")
         return db().Value("SELECT type || ' ' || \"notnull\" FROM pragma_table_info('nodes') WHERE name='community'");
      if (Dialect() == "mysql")
         return db().Value("SELECT CONCAT(column_type,' ',is_nullable) FROM information_schema.columns "
                           "WHERE table_schema=DATABASE() "
                           "AND table_name='nodes' AND column_name='community'");
      return db().Value("SELECT data_type || '(' || character_maximum_length || ') ' || is_nullable "
                        "FROM information_schema.columns WHERE table_schema=current_schema() "
                        "AND table_name='nodes' AND column_name='community'");
   }
};

TEST_F(Upgrade55Test, EveryConvertedRowFrom55)
{
   // Rows the steps convert that the baseline cannot hold: its tables come later.
   ASSERT_TRUE(db().Exec("INSERT INTO submap_links (map_id,submap_id,object_id1,object_id2,link_type) "
                         "VALUES (1,1,100,101,0)"));
   // Tool 14 is replaced, its columns with it; its access rows stay.
   Rows toolAccess = db().Query("SELECT user_id FROM object_tools_acl WHERE tool_id=14 ORDER BY user_id");
   ASSERT_TRUE(db().Exec("INSERT INTO object_tools_acl (tool_id,user_id) VALUES (14,1)"));
   toolAccess.push_back({"1"});
   ASSERT_TRUE(db().Exec("INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,"
                         "col_substr) VALUES (14,9,'Old','.1.3',1,0)"));
   // An operator's own value is kept.
   db().SetConfig("SNMPRequestTimeout", "1500");

   ToolRun run = db().Run({"upgrade"});
   ASSERT_EQ(From55To83(Dialect()), run.out) << run.err;
   EXPECT_EQ(0, run.exitCode);

   // 55 to 56, 61 to 62, 62 to 63: event templates.
   EXPECT_EQ(
      (Rows{
         {"38", "SYS_CLUSTER_RESOURCE_MOVED", "1", "1", "Cluster resource \"%2\" moved from node %4 to node %6",
          "Generated when cluster resource moved between nodes.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) "
          "Resource name#0D#0A   3) Previous owner node ID#0D#0A   4) Previous owner node name#0D#0A   5) New owner "
          "node ID#0D#0A   6) New owner node name"},
         {"39", "SYS_CLUSTER_RESOURCE_DOWN", "3", "1", "Cluster resource \"%2\" is down (last owner was %4)",
          "Generated when cluster resource goes down.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) Resource "
          "name#0D#0A   3) Last owner node ID#0D#0A   4) Last owner node name"},
         {"40", "SYS_CLUSTER_RESOURCE_UP", "0", "1", "Cluster resource \"%2\" is up (new owner is %4)",
          "Generated when cluster resource goes up.#0D#0AParameters:#0D#0A   1) Resource ID#0D#0A   2) Resource "
          "name#0D#0A   3) New owner node ID#0D#0A   4) New owner node name"},
         {"41", "SYS_CLUSTER_DOWN", "4", "1", "Cluster is down",
          "Generated when cluster goes down.#0D#0AParameters:#0D#0A   No message-specific parameters"},
         {"42", "SYS_CLUSTER_UP", "0", "1", "Cluster is up",
          "Generated when cluster goes up.#0D#0AParameters:#0D#0A   No message-specific parameters"},
         {"43", "SYS_ALARM_TIMEOUT", "1", "1", "Alarm timeout expired (ID: %1; Text: %2)",
          "Generated when alarm timeout expires.#0D#0AParameters:#0D#0A   1) Alarm ID#0D#0A   2) Alarm "
          "message#0D#0A   3) Alarm key#0D#0A   4) Event code"},
         {"44", "SYS_LOG_RECORD_MATCHED", "1", "1", "Log record matched (Policy: %1; File: %2; Record: %4)",
          "Default event for log record match.#0D#0AParameters:#0D#0A   1) Policy name#0D#0A   2) Log file "
          "name#0D#0A   3) Matching regular expression#0D#0A   4) Matched record#0D#0A   5 .. 9) Reserved#0D#0A   "
          "10 .. 99) Substrings extracted by regular expression"},
         {"45", "SYS_IF_UNKNOWN", "1", "1", "Interface \"%2\" changed state to UNKNOWN (IP Addr: %3/%4, IfIndex: %5)",
          "Generated when interface goes to unknown state.#0D#0APlease note that source of event is node, not an "
          "interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) "
          "Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
         {"46", "SYS_IF_DISABLED", "0", "1", "Interface \"%2\" disabled (IP Addr: %3/%4, IfIndex: %5)",
          "Generated when interface administratively disabled.#0D#0APlease note that source of event is node, not "
          "an interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   "
          "3) Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
         {"47", "SYS_IF_TESTING", "0", "1", "Interface \"%2\" is testing (IP Addr: %3/%4, IfIndex: %5)",
          "Generated when interface goes to testing state.#0D#0APlease note that source of event is node, not an "
          "interface itself.#0D#0AParameters:#0D#0A   1) Interface object ID#0D#0A   2) Interface name#0D#0A   3) "
          "Interface IP address#0D#0A   4) Interface netmask#0D#0A   5) Interface index"},
      }),
      db().Query("SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                 "WHERE event_code BETWEEN 38 AND 47 ORDER BY event_code"));

   // 55 to 56, 57 to 58, 59 to 60, 61 to 62, 68 to 69: the new tables take rows.
   const char *const inserts[] = {
      "INSERT INTO cluster_resources (cluster_id,resource_id,resource_name,ip_addr) VALUES (1,1,'r','10.0.0.5')",
      "INSERT INTO graphs (graph_id,owner_id,name,config) VALUES (1,0,'g','c')",
      "INSERT INTO graph_acl (graph_id,user_id,user_rights) VALUES (1,0,3)",
      "INSERT INTO certificates (cert_id,cert_type,cert_data,subject,comments) VALUES (1,0,'d','s','c')",
      "INSERT INTO lpp_groups (lpp_group_id,lpp_group_name,parent_group) VALUES (1,'g',0)",
      "INSERT INTO lpp (lpp_id,lpp_group_id,lpp_name,lpp_version,lpp_flags) VALUES (1,1,'p',1,0)",
      "INSERT INTO lpp_associations (lpp_id,node_id,log_file) VALUES (1,100,'/var/log/messages')",
      "INSERT INTO lpp_rulesets (ruleset_id,ruleset_name) VALUES (1,NULL)",   // the name may be null
      "INSERT INTO lpp_rules (lpp_id,rule_number,ruleset_id,msg_id_start,msg_id_end,severity,source_name,"
      "msg_text_regexp,event_code) VALUES (1,0,1,0,0,0,'s','.*',44)",
      "INSERT INTO audit_log (record_id,timestamp,subsystem,success,user_id,workstation,object_id,message) "
      "VALUES (1,1000,'SYSCFG',1,0,'console',0,'m')",
   };
   for (const char *insert : inserts)
   {
      std::string error;
      EXPECT_TRUE(db().Exec(insert, &error)) << insert << "\n" << error;
   }

   // 56 to 57, 57 to 58, 58 to 59, 66 to 67, 67 to 68: new columns filled in every row.
   EXPECT_EQ((Rows{{"0"}, {"0"}, {"0"}}), db().Query("SELECT resource_id FROM items ORDER BY item_id"));
   EXPECT_EQ((Rows{{"0"}, {"0"}, {"0"}}), db().Query("SELECT snmp_proxy FROM nodes ORDER BY id"));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM object_properties WHERE is_system IS NULL OR is_system<>0"));
   EXPECT_NE("0", db().Value("SELECT COUNT(*) FROM object_properties"));
   EXPECT_EQ((Rows{{"0", "0", "#00"}, {"1", "0", "#00"}}),
             db().Query("SELECT id,cert_mapping_method,cert_mapping_data FROM users ORDER BY id"));
   EXPECT_EQ((Rows{{"0"}}), db().Query("SELECT synthetic_mask FROM subnets"));
   EXPECT_EQ((Rows{{"0"}, {"0"}}), db().Query("SELECT synthetic_mask FROM interfaces ORDER BY id"));
   EXPECT_EQ((Rows{{"-1"}, {"-1"}}), db().Query("SELECT repeat_interval FROM thresholds ORDER BY threshold_id"));
   EXPECT_EQ((Rows{{"#00", "#00"}}), db().Query("SELECT port1,port2 FROM submap_links"));

   // Configuration variables, with their flags; an existing one keeps its value.
   struct Variable
   {
      const char *name, *value, *flags;
   } variables[] = {
      {"InternalCA", "0", "1,1"},
      {"SNMPRequestTimeout", "1500", nullptr},
      {"TopologyExpirationTime", "900", "1,0"},
      {"TopologyDiscoveryRadius", "3", "1,0"},
      {"ThresholdRepeatInterval", "0", "1,1"},
      {"EnableAuditLog", "1", "1,1"},
      {"AuditLogRetentionTime", "90", "1,0"},
   };
   for (const Variable &v : variables)
   {
      EXPECT_EQ(v.value, Config(v.name)) << v.name;
      if (v.flags != nullptr)
      {
         EXPECT_EQ(v.flags, ConfigFlags(v.name)) << v.name;
      }
   }

   // 60 to 61: tool 14 replaced, tools 17 to 19 added with access for everyone.
   EXPECT_EQ((Rows{{"14", "&Info->Topology table (Nortel)", "2", "Topology table", "1", " ",
                    "Show topology table (Nortel protocol)", "#00"},
                   {"17", "&Info->AR&P cache (SNMP)", "2", "ARP Cache", "1", " ", "Show ARP cache", "#00"},
                   {"18", "&Info->AR&P cache (Agent)", "3", "ARP Cache#7FNet.ArpCache#7F(.*) (.*) (.*)", "2", " ",
                    "Show ARP cache", "#00"},
                   {"19", "&Info->&Routing table (SNMP)", "2", "Routing Table", "1", " ", "Show IP routing table",
                    "#00"}}),
             db().Query("SELECT tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,"
                        "confirmation_text FROM object_tools WHERE tool_id IN (14,17,18,19) ORDER BY tool_id"));
   EXPECT_EQ((Rows{{"14", "0", "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", "3", "0"},
                   {"14", "1", "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", "4", "0"},
                   {"14", "2", "Slot", ".1.3.6.1.4.1.45.1.6.13.2.1.1.1", "1", "0"},
                   {"14", "3", "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", "1", "0"},
                   {"17", "0", "IP Address", ".1.3.6.1.2.1.4.22.1.3", "3", "0"},
                   {"17", "1", "MAC Address", ".1.3.6.1.2.1.4.22.1.2", "4", "0"},
                   {"17", "2", "Interface", ".1.3.6.1.2.1.4.22.1.1", "5", "0"},
                   {"18", "0", "IP Address", ".1.3.6.1.2.1.4.22.1.3", "0", "2"},
                   {"18", "1", "MAC Address", ".1.3.6.1.2.1.4.22.1.2", "0", "1"},
                   {"18", "2", "Interface", ".1.3.6.1.2.1.4.22.1.1", "5", "3"},
                   {"19", "0", "Destination", ".1.3.6.1.2.1.4.21.1.1", "3", "0"},
                   {"19", "1", "Mask", ".1.3.6.1.2.1.4.21.1.11", "3", "0"},
                   {"19", "2", "Next hop", ".1.3.6.1.2.1.4.21.1.7", "3", "0"},
                   {"19", "3", "Metric", ".1.3.6.1.2.1.4.21.1.3", "1", "0"},
                   {"19", "4", "Interface", ".1.3.6.1.2.1.4.21.1.2", "5", "0"}}),
             db().Query("SELECT tool_id,col_number,col_name,col_oid,col_format,col_substr FROM "
                        "object_tools_table_columns WHERE tool_id IN (14,17,18,19) ORDER BY tool_id,col_number"));
   EXPECT_EQ(toolAccess, db().Query("SELECT user_id FROM object_tools_acl WHERE tool_id=14 ORDER BY user_id"));
   EXPECT_EQ((Rows{{"17", "-2147483648"}, {"18", "-2147483648"}, {"19", "-2147483648"}}),
             db().Query("SELECT tool_id,user_id FROM object_tools_acl WHERE tool_id IN (17,18,19) ORDER BY tool_id"));

   // 61 to 62: the terminating rule (severity 6) now names its alarms by
   // alarm_key; the other rule keeps its own key.
   EXPECT_FALSE(ColumnExists("event_policy", "alarm_ack_key"));
   EXPECT_EQ((Rows{{"0", "NODE_STATUS_%i", "0", "43"}, {"1", "NODE_STATUS_%i", "0", "43"}}),
             db().Query("SELECT rule_id,alarm_key,alarm_timeout,alarm_timeout_event FROM event_policy "
                        "ORDER BY rule_id"));
   EXPECT_EQ((Rows{{"0", "43"}, {"0", "43"}}), db().Query("SELECT timeout,timeout_event FROM alarms ORDER BY alarm_id"));

   // 63 to 64: switch types by object id.
   EXPECT_EQ((Rows{{"15", ".1.3.6.1.4.1.45.3.29.*", "3", "0"}, {"16", ".1.3.6.1.4.1.45.3.41.*", "3", "0"},
                   {"17", ".1.3.6.1.4.1.45.3.45.*", "3", "0"}, {"18", ".1.3.6.1.4.1.45.3.43.*", "3", "0"},
                   {"19", ".1.3.6.1.4.1.45.3.57.*", "3", "0"}, {"20", ".1.3.6.1.4.1.45.3.49.*", "3", "0"},
                   {"21", ".1.3.6.1.4.1.45.3.54.*", "3", "0"}, {"22", ".1.3.6.1.4.1.45.3.63.*", "3", "0"},
                   {"23", ".1.3.6.1.4.1.45.3.64.*", "3", "0"}, {"24", ".1.3.6.1.4.1.45.3.53.*", "3", "0"},
                   {"25", ".1.3.6.1.4.1.45.3.59.*", "3", "0"}, {"26", ".1.3.6.1.4.1.45.3.39.*", "3", "0"},
                   {"27", ".1.3.6.1.4.1.45.3.65.*", "3", "0"}, {"28", ".1.3.6.1.4.1.45.3.66.*", "3", "0"},
                   {"29", ".1.3.6.1.4.1.45.3.44.*", "4", "0"}, {"30", ".1.3.6.1.4.1.45.3.47.*", "4", "0"},
                   {"31", ".1.3.6.1.4.1.45.3.48.*", "4", "0"}}),
             db().Query("SELECT pair_id,snmp_oid,node_type,node_flags FROM oid_to_type WHERE pair_id BETWEEN 15 AND 31 "
                        "ORDER BY pair_id"));

   // 64 to 65: the community column is widened, except on SQLite.
   const std::string engine = Dialect();
   // It stays "not null" everywhere.
   EXPECT_EQ(engine == "sqlite" ? "varchar(32) 1" : engine == "mysql" ? "varchar(127) NO" : "character varying(127) NO",
             CommunityType());
   EXPECT_EQ((Rows{{"public"}, {"public"}, {"public"}}), db().Query("SELECT community FROM nodes ORDER BY id"));
}

// The step from 64 on PostgreSQL when the direct ALTER fails: nothing is
// reported of it, the column is rebuilt under its name, and only a failure
// of that rebuild fails the step.
// The same database, on PostgreSQL only.
class Upgrade55PostgresqlTest : public Upgrade55Test
{
protected:
   void SetUpDatabase() override
   {
      if (Dialect() != "pgsql")
         GTEST_SKIP() << "PostgreSQL only";
      Upgrade55Test::SetUpDatabase();
   }
};

TEST_F(Upgrade55PostgresqlTest, CommunityFallback)
{
   // Reject the direct form, as a server without ALTER COLUMN ... TYPE would.
   ASSERT_TRUE(db().Exec("CREATE FUNCTION kv_no_alter_type() RETURNS event_trigger AS $$ BEGIN "
                         "IF current_query() LIKE '%community TYPE%' THEN RAISE EXCEPTION 'syntax error at TYPE'; "
                         "END IF; END $$ LANGUAGE plpgsql"));
   ASSERT_TRUE(db().Exec("CREATE EVENT TRIGGER kv_no_alter_type ON ddl_command_start WHEN TAG IN ('ALTER TABLE') "
                         "EXECUTE FUNCTION kv_no_alter_type()"));
   ASSERT_TRUE(db().Exec("UPDATE nodes SET community='private' WHERE id=101"));

   ToolRun run = db().Run({"-t", "upgrade"});
   db().Exec("DROP EVENT TRIGGER kv_no_alter_type");
   db().Exec("DROP FUNCTION kv_no_alter_type()");
   EXPECT_EQ(0, run.exitCode) << run.out;
   // The direct form is echoed once, and its failure is not reported.
   const std::string step = "Upgrading from version 64 to 65\n>>> " + kWiden + "\n" + kFallback +
                            ">>> UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'\n"
                            "Upgrading from version 65 to 66\n";
   EXPECT_NE(std::string::npos, run.out.find(step)) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("SQL query failed")) << run.out;
   EXPECT_EQ("83", Config("DBFormatVersion"));
   EXPECT_EQ("character varying(127) NO", CommunityType());
   EXPECT_EQ((Rows{{"100", "public"}, {"101", "private"}, {"102", "public"}}),
             db().Query("SELECT id,community FROM nodes ORDER BY id"));
}

TEST_F(Upgrade55PostgresqlTest, CommunityFallbackFailureFailsTheStep)
{
   // A view on the column stops both the direct ALTER and the fallback's DROP COLUMN.
   ASSERT_TRUE(db().Exec("CREATE VIEW kv_communities AS SELECT id,community FROM nodes"));
   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(kStart + UpgradeLines(55, 65) + "SQL query failed (ERR):\nALTER TABLE nodes DROP COLUMN community\n" +
                kRollback,
             MaskErrors(run.out));
   // The step left nothing behind: no half-made column, the version at 64.
   EXPECT_EQ("64", Config("DBFormatVersion"));
   EXPECT_FALSE(ColumnExists("nodes", "new_community"));
   EXPECT_EQ("character varying(32) NO", CommunityType());

   // Without the view the next run resumes at 64 and widens the column directly.
   ASSERT_TRUE(db().Exec("DROP VIEW kv_communities"));
   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(64, 83) + kSucceeded, run.out);
   EXPECT_EQ("character varying(127) NO", CommunityType());
}

// -t on every engine: the step from 64 shows what it runs (on PostgreSQL the
// direct statement once, no fallback when it works; on SQLite only the warning).
TEST_F(Upgrade55Test, CommunityStepUnderTrace)
{
   ToolRun run = db().Run({"-t", "upgrade"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   const std::string engine = Dialect();
   std::string expected = "Upgrading from version 64 to 65\n";
   if (engine == "pgsql")
      expected += ">>> " + kWiden + "\n";
   else if (engine == "mysql")
      expected += ">>> ALTER TABLE nodes MODIFY community varchar(127) not null\n";
   else
      expected += kSqliteWarning;
   expected += ">>> UPDATE config SET var_value='65' WHERE var_name='DBFormatVersion'\n";
   EXPECT_NE(std::string::npos, WithoutStepMarks(run.out).find(expected)) << run.out;
}

}  // namespace
