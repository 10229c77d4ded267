// The steps from 14 to 21 and the table rebuilds through the scripted driver:
// statement texts of the dialects no engine here speaks (MSSQL, Oracle), and
// the MySQL rebuild sequence with failures placed where no engine puts them.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

TEST(Steps14To20ScriptedTest, Step17To18OnMssqlAndOracle)
{
   for (const OtherDialect &d : kOtherDialects)
   {
      SCOPED_TRACE(d.syntax);
      ScriptedDatabase db(d.syntax, VersionRule(17) +
                                    "select SELECT rule_id,event_id FROM policy_event_list => 0|4\n"
                                    "row 0|-2147483647\n"
                                    "row 1|3\n");
      ToolRun run = db.Run({"-f", "upgrade"});
      // Every step is there: the scripted database goes on to the end.
      EXPECT_EQ(0, run.exitCode) << run.out;
      const std::string t = d.text;
      std::vector<std::string> expected = {
         "select SELECT rule_id,event_id FROM policy_event_list",
         "execute DROP TABLE policy_event_list",
         "execute CREATE TABLE policy_event_list (rule_id integer not null,event_code integer not null,"
         "PRIMARY KEY(rule_id,event_code))",
         "execute INSERT INTO policy_event_list (rule_id,event_code) VALUES (0,4)",
         "execute INSERT INTO policy_event_list (rule_id,event_code) VALUES (0,-2147483647)",
         "execute INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,3)",
         "execute CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
         "flags integer,message varchar(255),description " + t + ",PRIMARY KEY(event_code))",
         "execute ALTER TABLE nodes DROP COLUMN inherit_access_rights",
         "execute ALTER TABLE nodes ADD agent_version varchar(63)",
         "execute UPDATE nodes SET agent_version='' WHERE is_agent=0",
         "execute UPDATE nodes SET agent_version='<unknown>' WHERE is_agent=1",
         "execute INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) SELECT event_id,"
         "name,severity,flags,message,description FROM events",
         "execute DROP TABLE events",
         "execute DROP TABLE event_group_members",
         "execute CREATE TABLE event_group_members (group_id integer not null,event_code integer not null,"
         "\tPRIMARY KEY(group_id,event_code))",
         "execute ALTER TABLE alarms ADD source_event_code integer",
         "execute UPDATE alarms SET source_event_code=source_event_id",
         "execute ALTER TABLE alarms DROP COLUMN source_event_id",
         "execute ALTER TABLE alarms ADD source_event_id bigint",
         "execute UPDATE alarms SET source_event_id=0",
         "execute ALTER TABLE snmp_trap_cfg ADD event_code integer not null default 0",
         "execute UPDATE snmp_trap_cfg SET event_code=event_id",
         "execute ALTER TABLE snmp_trap_cfg DROP COLUMN event_id",
         "execute DROP TABLE event_log",
         "execute CREATE TABLE event_log (event_id bigint not null,event_code integer,event_timestamp integer,"
         "event_source integer,event_severity integer,event_message varchar(255),root_event_id bigint default 0,"
         "PRIMARY KEY(event_id))",
         "execute CREATE TABLE modules (module_id integer not null,module_name varchar(63),exec_name varchar(255),"
         "module_flags integer not null default 0,description " + t + ",license_key varchar(255),"
         "PRIMARY KEY(module_id))",
         "execute UPDATE config SET var_value='18' WHERE var_name='DBFormatVersion'",
      };
      EXPECT_EQ(expected, StepCalls(db.Calls()));

      // The two tables of the range made through the table-creation path.
      std::vector<std::string> calls = db.Calls();
      EXPECT_TRUE(Contains(calls, "execute CREATE TABLE agent_pkg (pkg_id integer not null,pkg_name varchar(63),"
                                  "version varchar(31),platform varchar(63),pkg_file varchar(255),"
                                  "description varchar(255),PRIMARY KEY(pkg_id))"));
      EXPECT_TRUE(Contains(calls, "execute CREATE TABLE network_services (id integer not null,name varchar(63),"
                                  "status integer,is_deleted integer,node_id integer not null,service_type integer,"
                                  "ip_bind_addr varchar(15),ip_proto integer,ip_port integer,check_request " + t +
                                     ",check_responce " + t + ",poller_node_id integer not null,"
                                     "image_id integer not null,PRIMARY KEY(id))"));
   }
}

// What the operator sees of the step from 20 under -t, and the index names:
// per table where the dialect keeps them per table, per schema on Oracle.
TEST(Steps14To20ScriptedTest, TraceOfStep20To21OnMssqlAndOracle)
{
   for (const OtherDialect &d : kOtherDialects)
   {
      SCOPED_TRACE(d.syntax);
      // The step from 21 fails at its first statement: the run stops there.
      ScriptedDatabase db(d.syntax, VersionRule(20) +
                                    "fail INSERT INTO event_cfg (event_code,event_name,severity,flags,message,"
                                    "description) VALUES (4009, => stopped\n"
                                    "select SELECT id,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,is_ospf "
                                    "FROM nodes => 100|1|1|0|0|0|1\n"
                                    "row 101|1|1|1|1|1|1\n"
                                    "row 102|0|0|0|0|0|0\n"
                                    "select SELECT id FROM nodes WHERE is_deleted=0 => 100\n"
                                    "row 101\n");
      ToolRun run = db.Run({"-t", "-f", "upgrade"});
      EXPECT_EQ(kStart + "Upgrading from version 20 to 21\n" + TraceOfStep20({"67", "95", "0"}, d.indexNamesPerSchema) +
                   NoProcedure(21),
                StoppedAt(run.out, 21));
      EXPECT_EQ(7, run.exitCode);
   }
}

// Every table rebuild on MySQL: a leftover of an interrupted run goes first,
// the rows go into a new table, and only a complete copy takes the old
// table's place. A copy that fails half-way never touches the old table.
TEST(Steps14To20ScriptedTest, MySqlRebuildCopiesBeforeTheOldTableGoes)
{
   struct Case
   {
      int from;
      const char *table;
      const char *rows;      // script rules answering the step's select
      const char *insert;    // the statements copying the two rows, after "INSERT INTO <table>_rebuild_new"
      const char *create;    // the new layout, with the -I table type
   } cases[] = {
      {17, "policy_event_list",
       "select SELECT rule_id,event_id FROM policy_event_list => 0|4\nrow 1|3\n",
       " (rule_id,event_code) VALUES (0,4)|| (rule_id,event_code) VALUES (1,3)",
       " (rule_id integer not null,event_code integer not null,PRIMARY KEY(rule_id,event_code))"},
      {76, "cond_dci_map",
       "select SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id => "
       "5|10|100|0|1\nrow 5|11|100|1|2\n",
       " (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) VALUES (5,0,10,100,0,1)||"
       " (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) VALUES (5,1,11,100,1,2)",
       " (condition_id integer not null,sequence_number integer not null,dci_id integer not null,node_id integer "
       "not null,dci_func integer not null,num_polls integer not null,PRIMARY KEY(condition_id,sequence_number))"
       " ENGINE=InnoDB"},
      {80, "dci_schedules",
       "select SELECT item_id,schedule FROM dci_schedules => 3|a\nrow 9|b\n",
       " (item_id,schedule_id,schedule) VALUES(3,1,'a')|| (item_id,schedule_id,schedule) VALUES(9,2,'b')",
       " (schedule_id integer not null,item_id integer not null,schedule varchar(255) not null,"
       "PRIMARY KEY(item_id,schedule_id)) ENGINE=InnoDB"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.table);
      const std::string table = c.table;
      const std::string fresh = table + "_rebuild_new";
      const std::string old = table + "_rebuild_old";
      const std::string inserts = c.insert;
      const std::string first = "execute INSERT INTO " + fresh + inserts.substr(0, inserts.find("||"));
      const std::string second = "execute INSERT INTO " + fresh + inserts.substr(inserts.find("||") + 2);
      const std::string script = VersionRule(c.from) + c.rows;

      ScriptedDatabase db("MYSQL", script);
      ToolRun run = db.Run({"-I", "-f", "upgrade"});
      std::vector<std::string> step = StepCalls(db.Calls());
      ASSERT_GE(step.size(), 8u) << run.out;
      std::vector<std::string> rebuild(step.begin() + 1, step.begin() + 8);
      EXPECT_EQ((std::vector<std::string>{"execute DROP TABLE IF EXISTS " + fresh, "execute DROP TABLE IF EXISTS " + old,
                                          "execute CREATE TABLE " + fresh + c.create, first, second,
                                          "execute RENAME TABLE " + table + " TO " + old + ", " + fresh + " TO " + table,
                                          "execute DROP TABLE " + old}),
                rebuild);

      // The second row fails: the copy is dropped, the old table stays, the
      // step is rolled back.
      db.SetScript(script + "fail " + second.substr(8) + " => Duplicate entry\n");
      run = db.Run({"-I", "-f", "upgrade"});
      EXPECT_NE(std::string::npos, run.out.find("SQL query failed (Duplicate entry):\n" + second.substr(8) + "\n" +
                                                kRollback))
         << run.out;
      step = StepCalls(db.Calls());
      ASSERT_GE(step.size(), 6u) << run.out;
      EXPECT_EQ((std::vector<std::string>{first, second, "execute DROP TABLE IF EXISTS " + fresh}),
                std::vector<std::string>(step.begin() + 4, step.end()));
      EXPECT_EQ("rollback", db.Calls().back());
   }
}

}  // namespace
