// The steps from 31 to 41 through the scripted driver: the tables they create
// as MSSQL, Oracle and MySQL receive them, and GUID updates that fail.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted.h"
#include "tests/upgrade/upgrade_support.h"

namespace {

const std::string kStore41 = "UPDATE config SET var_value='41' WHERE var_name='DBFormatVersion'";

// The statements of a run up to the one that stores 41, which is left out.
std::vector<std::string> UpTo41(const std::vector<std::string> &statements)
{
   return std::vector<std::string>(statements.begin(), std::find(statements.begin(), statements.end(), kStore41));
}

struct Dialect
{
   const char *syntax;
   const char *option;   // the table-type option, or nullptr
   const char *text;     // what "$SQL:TEXT" becomes
   const char *int64;    // what "$SQL:INT64" becomes
   const char *suffix;   // what the table-creation path appends
};

const Dialect kDialects[] = {
   {"MSSQL", nullptr, "text", "bigint", ""},
   {"ORACLE", nullptr, "clob", "number(20)", ""},
   {"ORACLE", "-I", "clob", "number(20)", ""},
   {"MYSQL", "-I", "text", "bigint", " ENGINE=InnoDB"},
   {"MYSQL", "-M", "text", "bigint", " ENGINE=MyISAM"},
};

// Every table of the range, in the order the steps create them, with the
// column types of the dialect and, on MySQL, the table type of -I or -M; no
// other statement of the range takes a table type; and the three indexes.
TEST(Steps31To40ScriptedTest, CreatedTablesInEveryDialect)
{
   for (const Dialect &d : kDialects)
   {
      SCOPED_TRACE(std::string(d.syntax) + " " + (d.option ? d.option : ""));
      ScriptedDatabase db(d.syntax, VersionRule(31));
      std::vector<std::string> args = {"-f", "upgrade"};
      if (d.option != nullptr)
         args.insert(args.begin(), d.option);
      ToolRun run = db.Run(args);
      const std::string t = d.text, i64 = d.int64, s = d.suffix;
      std::vector<std::string> expected = {
         "CREATE TABLE object_tools (tool_id integer not null,tool_name varchar(255) not null,tool_type integer not null,"
         "tool_data " + t + ",description varchar(255),flags integer not null,PRIMARY KEY(tool_id))" + s,
         "CREATE TABLE object_tools_acl (tool_id integer not null,user_id integer not null,"
         "PRIMARY KEY(tool_id,user_id))" + s,
         "CREATE TABLE object_tools_table_columns (tool_id integer not null,col_number integer not null,"
         "col_name varchar(255),col_oid varchar(255),col_format integer,col_substr integer,"
         "PRIMARY KEY(tool_id,col_number))" + s,
         "CREATE TABLE dci_schedules (item_id integer not null,schedule varchar(255) not null)" + s,
         "CREATE TABLE syslog (msg_id " + i64 + " not null,msg_timestamp integer not null,facility integer not null,"
         "severity integer not null,source_object_id integer not null,hostname varchar(127) not null,"
         "msg_tag varchar(32) not null,msg_text " + t + " not null,PRIMARY KEY(msg_id))" + s,
         "CREATE TABLE script_library (script_id integer not null,script_name varchar(63) not null,"
         "script_code " + t + " not null,PRIMARY KEY(script_id))" + s,
         "CREATE TABLE snmp_trap_log (trap_id " + i64 + " not null,trap_timestamp integer not null,"
         "ip_addr varchar(15) not null,object_id integer not null,trap_oid varchar(255) not null,"
         "trap_varlist " + t + " not null,PRIMARY KEY(trap_id))" + s,
         "CREATE TABLE maps\t(map_id integer not null,map_name varchar(255) not null,description " + t +
            " not null,root_object_id integer not null,PRIMARY KEY(map_id))" + s,
         "CREATE TABLE map_access_lists (map_id integer not null,user_id integer not null,"
         "access_rights integer not null,PRIMARY KEY(map_id,user_id))" + s,
         "CREATE TABLE submaps (map_id integer not null,submap_id integer not null,attributes integer not null,"
         "PRIMARY KEY(map_id,submap_id))" + s,
         "CREATE TABLE submap_object_positions (map_id integer not null,submap_id integer not null,"
         "object_id integer not null,x integer not null,y integer not null,PRIMARY KEY(map_id,submap_id,object_id))" + s,
         "CREATE TABLE submap_links (map_id integer not null,submap_id integer not null,object_id1 integer not null,"
         "object_id2 integer not null,link_type integer not null,PRIMARY KEY(map_id,submap_id,object_id1,object_id2))" + s,
      };
      std::vector<std::string> statements = UpTo41(db.Statements());
      ASSERT_NE(db.Statements().size(), statements.size()) << run.out;   // the range ran to its end
      std::vector<std::string> created, indexes, suffixed;
      for (const std::string &statement : statements)
      {
         if (statement.compare(0, 13, "CREATE TABLE ") == 0)
            created.push_back(statement);
         else if (statement.find("ENGINE=") != std::string::npos)
            suffixed.push_back(statement);
         if (statement.compare(0, 13, "CREATE INDEX ") == 0)
            indexes.push_back(statement);
      }
      EXPECT_EQ(expected, created);
      EXPECT_EQ(std::vector<std::string>{}, suffixed);
      // The index names hold their tables' names: the same in every dialect.
      EXPECT_EQ((std::vector<std::string>{
                   "CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)",
                   "CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)",
                   "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)"}),
                indexes);
   }
}

// A '%' in a tool's data or an event's message is sent as written, never
// taken for a format.
TEST(Steps31To40ScriptedTest, PercentSignsGoOutAsWritten)
{
   ScriptedDatabase db("MSSQL", VersionRule(32));
   db.Run({"upgrade"});
   std::vector<std::string> statements = db.Statements();
   for (const char *expected :
        {"INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) VALUES "
         "(6,'&Connect->Open &web browser',4,'http://%OBJECT_IP_ADDR%',0,'Open web browser to node')",
         "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) VALUES "
         "(7,'&Connect->Open &web browser (HTTPS)',4,'https://%OBJECT_IP_ADDR%',0,'Open web browser to node using "
         "HTTPS')",
         "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES "
         "(33,'SYS_SCRIPT_ERROR',2,1,'Script (%1) execution error: %2','Generated when server encounters KVSL script "
         "execution error.#0D#0AParameters:#0D#0A   1) Script name#0D#0A   2) Error text#0D#0A   3) DCI ID if script "
         "is DCI transformation script, or 0 otherwise')"})
      EXPECT_TRUE(Contains(statements, expected)) << expected;
}

// Ids are read unsigned and written signed. A failed GUID update ends the
// step without -X; under -X every other row still gets its GUID.
TEST(Steps31To40ScriptedTest, FailedGuidUpdate)
{
   const std::string script = VersionRule(40) +
                              "select SELECT id FROM users => 0\n"
                              "row 2147483648\n"
                              "row 5\n"
                              "select SELECT id FROM user_groups => 2147483648\n"
                              "row 3\n"
                              "fail ~^UPDATE users SET guid='[-0-9a-f]{36}' WHERE id=-2147483648$ => disk full\n";
   auto guidTargets = [](const std::vector<std::string> &statements) {
      std::vector<std::string> targets;
      for (const std::string &s : statements)
         if (s.find(" SET guid='") != std::string::npos)
            targets.push_back(s.substr(0, s.find(" SET")) + s.substr(s.find("' WHERE") + 1));
      return targets;
   };

   ScriptedDatabase db("PGSQL", script);
   ToolRun run = db.Run({"upgrade"});
   static const std::regex guid("guid='[-0-9a-f]{36}'");
   EXPECT_EQ(kStart + "Upgrading from version 40 to 41\nGenerating GUIDs...\nSQL query failed (disk full):\n"
                      "UPDATE users SET guid='<guid>' WHERE id=-2147483648\n" + kRollback,
             std::regex_replace(run.out, guid, "guid='<guid>'"));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ((std::vector<std::string>{"UPDATE users WHERE id=0", "UPDATE users WHERE id=-2147483648"}),
             guidTargets(db.Statements()));
   EXPECT_EQ("rollback", db.Calls().back());

   run = db.Run({"-X", "upgrade"});
   EXPECT_NE(std::string::npos, run.out.find("SQL query failed (disk full):\nUPDATE users SET guid='")) << run.out;
   std::vector<std::string> statements = UpTo41(db.Statements());
   EXPECT_EQ((std::vector<std::string>{"UPDATE users WHERE id=0", "UPDATE users WHERE id=-2147483648",
                                       "UPDATE users WHERE id=5", "UPDATE user_groups WHERE id=-2147483648",
                                       "UPDATE user_groups WHERE id=3"}),
             guidTargets(statements));
   ASSERT_GE(statements.size(), 4u);
   EXPECT_EQ("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSTimeout','3',1,0)",
             statements.back());
   EXPECT_NE(db.Statements().size(), statements.size());   // and the version stored
}

}  // namespace
