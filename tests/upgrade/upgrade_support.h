// Shared by the upgrade tests: loading the fixtures and the texts
// every upgrade run prints.
#pragma once

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/support/output.h"

// What every upgrade run prints first, and how it ends.
inline const std::string kStart = kBanner + "Upgrading database...\n";
inline const std::string kUpToDate = kStart + "Your database format is up to date\n";
inline const std::string kSucceeded = "Database upgrade succeeded\n";
inline const std::string kRollback = "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n";

// The end of a run that reached |version| and found no step from there.
inline std::string NoProcedure(int version)
{
   return "Unable to find upgrade procedure for version " + std::to_string(version) + "\nDatabase upgrade failed\n";
}

// The question the step from 20 asks about the collected-data tables.
inline const std::string kIndexQuestion = "Create indexes on existing IDATA tables? (Y/N) ";

// Loads tests/fixtures/<format>/<dialect>.sql statement by statement; fails
// the test when a statement fails. The fixtures end every statement with ";"
// at the end of a line and have no such sequence inside a value.
inline void LoadFixture(TestDatabase &db, const std::string &format)
{
   std::string path = std::string(KV_SOURCE_DIR) + "/tests/fixtures/" + format + "/" + CurrentEngine().dialect + ".sql";
   std::ifstream in(path);
   ASSERT_TRUE(in.good()) << path;
   std::stringstream text;
   text << in.rdbuf();
   std::string all = text.str();
   for (size_t start = 0, end; (end = all.find(";\n", start)) != std::string::npos; start = end + 2)
   {
      std::string statement = all.substr(start, end - start);
      std::string error;
      ASSERT_TRUE(db.Exec(statement, &error)) << statement << "\n" << error;
   }
}

inline void LoadFormat69(TestDatabase &db)
{
   LoadFixture(db, "format69");
}

// The format-14 baseline: the oldest database the upgrade takes.
inline void LoadFormat14(TestDatabase &db)
{
   LoadFixture(db, "format14");
}

// "Upgrading from version N to N+1\n" for every N from |from| up to |to| - 1.
inline std::string UpgradeLines(int from, int to)
{
   std::string lines;
   for (int v = from; v < to; v++)
      lines += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
   return lines;
}

// What the step from 20 shows under -t, its question answered Y, on a
// database with the nodes 100 and 101 and the deleted node 102, whose
// node_flags become |flags|. The indexes are named per schema or, with
// |perSchema| false, per table.
inline std::string TraceOfStep20(const std::string (&flags)[3], bool perSchema)
{
   auto index = [perSchema](const std::string &table) {
      return ">>> CREATE INDEX " + (perSchema ? "idx_" + table + "_item_id" : std::string("idx_item_id")) + " ON " +
             table + "(item_id)\n";
   };
   const std::string config = ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ";
   return ">>> INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (30,"
          "'SYS_SMS_FAILURE',1,1,'Unable to send SMS to phone %1','Generated when server is unable to send SMS.#0D#0A"
          "   Parameters:#0D#0A   1) Phone number')\n"
          ">>> ALTER TABLE nodes ADD node_flags integer\n"
          ">>> SELECT id,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,is_ospf FROM nodes\n"
          ">>> UPDATE nodes SET node_flags=" + flags[0] + " WHERE id=100\n"
          ">>> UPDATE nodes SET node_flags=" + flags[1] + " WHERE id=101\n"
          ">>> UPDATE nodes SET node_flags=" + flags[2] + " WHERE id=102\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_snmp\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_agent\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_bridge\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_router\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_local_mgmt\n"
          ">>> ALTER TABLE nodes DROP COLUMN is_ospf\n" +
          index("thresholds") + kIndexQuestion + "Y\n"
          ">>> SELECT id FROM nodes WHERE is_deleted=0\n"
          "Creating indexes for table \"idata_100\"...\n" + index("idata_100") +
          "Creating indexes for table \"idata_101\"...\n" + index("idata_101") +
          config + "('NumberOfStatusPollers','10',1,1)\n" +
          config + "('NumberOfConfigurationPollers','4',1,1)\n" +
          config + "('IDataIndexCreationCommand','CREATE INDEX idx_item_id ON idata_#25d(item_id)',0,1)\n"
          ">>> UPDATE config SET var_value='21' WHERE var_name='DBFormatVersion'\n";
}

// Stopping an upgrade at a version. Each range's tests look at the database
// as their range leaves it, whatever ranges follow: a stopper makes the step
// from that version fail at its first statement, so that a run without -X
// ends there (rolled back, or for want of a procedure while the step is not
// written yet). Under -X nothing stops a run: it goes on past the stopper.
struct UpgradeStopper
{
   int version;
   const char *add;      // run on the format-14 baseline
   const char *remove;   // run once the database is at |version|, to go on
};

inline const UpgradeStopper kUpgradeStoppers[] = {
   // The first template the step from 21 inserts: copied into event_cfg at 18.
   {21, "INSERT INTO events (event_id,name,severity,flags,message,description) "
        "VALUES (4009,'DC_HDD_TEMP_WARNING',1,1,'x','#00')",
    "DELETE FROM event_cfg WHERE event_code=4009"},
   // The first table the step from 31 creates.
   {31, "CREATE TABLE object_tools (tool_id integer not null)", "DROP TABLE object_tools"},
   // The first table the step from 41 creates.
   {41, "CREATE TABLE conditions (id integer not null)", "DROP TABLE conditions"},
   // The first template the step from 55 inserts: copied into event_cfg at 18.
   {55, "INSERT INTO events (event_id,name,severity,flags,message,description) "
        "VALUES (38,'SYS_CLUSTER_RESOURCE_MOVED',1,1,'x','#00')",
    "DELETE FROM event_cfg WHERE event_code=38"},
};

inline const UpgradeStopper &StopperAt(int version)
{
   for (const UpgradeStopper &s : kUpgradeStoppers)
      if (s.version == version)
         return s;
   throw std::logic_error("no upgrade stopper at " + std::to_string(version));
}

// Makes a run without -X from the format-14 baseline stop at |version|.
inline void AddUpgradeStopper(TestDatabase &db, int version)
{
   std::string error;
   ASSERT_TRUE(db.Exec(StopperAt(version).add, &error)) << error;
}

inline void RemoveUpgradeStopper(TestDatabase &db, int version)
{
   std::string error;
   ASSERT_TRUE(db.Exec(StopperAt(version).remove, &error)) << error;
}

// What a run stopped at |version| prints, the same whether the step from
// there failed on its stopper or is not written yet: the stopped step is
// shown as "Unable to find upgrade procedure for version <version>". A run
// that went on past |version| comes back unchanged.
inline std::string StoppedAt(const std::string &out, int version)
{
   size_t at = out.find(UpgradeLines(version, version + 1));
   if (at == std::string::npos || !EndsWith(out.substr(at), kRollback))
      return out;
   return out.substr(0, at) + NoProcedure(version);
}

// What a run printed before it reached the step from |version| (all of it
// when it never did): for runs under -X, which nothing stops.
inline std::string OutputBefore(const std::string &out, int version)
{
   size_t at = std::min(out.find(UpgradeLines(version, version + 1)), out.find(NoProcedure(version)));
   return at == std::string::npos ? out : out.substr(0, at);
}

// |out| without the trace lines of the started-step mark that MySQL runs
// around every step; the mark itself is tested on its own.
inline std::string WithoutStepMarks(const std::string &out)
{
   std::string kept;
   for (size_t start = 0, end; start < out.size(); start = end + 1)
   {
      end = out.find('\n', start);
      if (end == std::string::npos)
         end = out.size() - 1;
      std::string line = out.substr(start, end - start + 1);
      if (line.rfind(">>> ", 0) != 0 || line.find("'DBUpgradeStepStarted'") == std::string::npos)
         kept += line;
   }
   return kept;
}

// The names of the database's tables, in order.
inline std::vector<std::string> TableNames(TestDatabase &db)
{
   std::string query;
   if (db.syntax() == "SQLITE")
      query = "SELECT name FROM sqlite_master WHERE type='table' ORDER BY 1";
   else if (db.syntax() == "PGSQL")
      query = "SELECT tablename FROM pg_tables WHERE schemaname=current_schema() ORDER BY 1";
   else
      query = "SELECT table_name FROM information_schema.tables WHERE table_schema=DATABASE() AND "
              "table_type='BASE TABLE' ORDER BY 1";
   std::vector<std::string> names;
   for (const auto &row : db.Query(query))
      names.push_back(row[0]);
   return names;
}

// |rows| as text, one line each, in sorted order: rows compare the same
// whatever order a select returned them in.
inline std::string SortedRows(Rows rows)
{
   std::sort(rows.begin(), rows.end());
   std::string text;
   for (const auto &row : rows)
   {
      for (const auto &field : row)
         text += field + "|";
      text += "\n";
   }
   return text;
}

// Everything a command could change in the database, as text: every table's
// columns and rows, and the indexes. Two dumps compare equal when nothing was
// changed.
inline std::string DatabaseDump(TestDatabase &db)
{
   std::string columnsQuery, indexQuery;
   if (db.syntax() == "SQLITE")
   {
      indexQuery = "SELECT name, tbl_name, sql FROM sqlite_master WHERE type='index'";
   }
   else if (db.syntax() == "PGSQL")
   {
      columnsQuery = "SELECT table_name, column_name, data_type, is_nullable FROM information_schema.columns "
                     "WHERE table_schema=current_schema()";
      indexQuery = "SELECT indexname, indexdef FROM pg_indexes WHERE schemaname=current_schema()";
   }
   else
   {
      columnsQuery = "SELECT table_name, column_name, column_type, is_nullable FROM information_schema.columns "
                     "WHERE table_schema=database()";
      indexQuery = "SELECT DISTINCT table_name, index_name FROM information_schema.statistics "
                   "WHERE table_schema=database()";
   }
   std::string dump;
   for (const std::string &table : TableNames(db))
      dump += "table " + table + "\n" + SortedRows(db.Query("SELECT * FROM " + table));
   if (!columnsQuery.empty())
      dump += "columns\n" + SortedRows(db.Query(columnsQuery));
   return dump + "indexes\n" + SortedRows(db.Query(indexQuery));
}

// The whole content of a file, or "<missing>".
inline std::string FileBytes(const std::string &path)
{
   std::ifstream in(path, std::ios::binary);
   if (!in.good())
      return "<missing>";
   std::stringstream bytes;
   bytes << in.rdbuf();
   return bytes.str();
}

// The names of the indexes on |table| other than its primary key, sorted.
inline std::vector<std::string> IndexNames(TestDatabase &db, const std::string &table)
{
   std::string query;
   if (db.engine() == "sqlite")
      query = "SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='" + table +
              "' AND name NOT LIKE 'sqlite_autoindex%'";
   else if (db.engine() == "mysql")
      query = "SELECT DISTINCT index_name FROM information_schema.statistics WHERE table_schema=DATABASE() AND "
              "table_name='" + table + "' AND index_name<>'PRIMARY'";
   else
      query = "SELECT indexname FROM pg_indexes WHERE schemaname=current_schema() AND tablename='" + table +
              "' AND indexname NOT LIKE '%_pkey'";
   std::vector<std::string> names;
   for (const auto &row : db.Query(query))
      names.push_back(row[0]);
   std::sort(names.begin(), names.end());
   return names;
}

// Makes the database refuse to store a format version above |version|, so
// that an upgrade run ends there whatever steps come after it: the step that
// would go past it fails on its version statement and is rolled back. (On
// MySQL the DDL of that step stays: MySQL commits before each DDL statement.)
inline void StopUpgradeAt(TestDatabase &db, int version)
{
   const std::string dialect = CurrentEngine().dialect;
   const std::string limit = std::to_string(version);
   std::vector<std::string> statements;
   if (dialect == "sqlite")
      statements = {"CREATE TRIGGER stop_upgrade BEFORE UPDATE ON config WHEN NEW.var_name='DBFormatVersion' AND "
                    "CAST(NEW.var_value AS integer)>" + limit + " BEGIN SELECT RAISE(ABORT,'upgrade stopped here'); END"};
   else if (dialect == "pgsql")
      statements = {"CREATE FUNCTION stop_upgrade() RETURNS trigger AS $$ BEGIN IF NEW.var_name='DBFormatVersion' AND "
                    "CAST(NEW.var_value AS integer)>" + limit + " THEN RAISE EXCEPTION 'upgrade stopped here'; END IF; "
                    "RETURN NEW; END $$ LANGUAGE plpgsql",
                    "CREATE TRIGGER stop_upgrade BEFORE UPDATE ON config FOR EACH ROW EXECUTE FUNCTION stop_upgrade()"};
   else
      statements = {"CREATE TRIGGER stop_upgrade BEFORE UPDATE ON config FOR EACH ROW BEGIN IF "
                    "NEW.var_name='DBFormatVersion' AND CAST(NEW.var_value AS SIGNED)>" + limit + " THEN "
                    "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='upgrade stopped here'; END IF; END"};
   for (const std::string &statement : statements)
   {
      std::string error;
      ASSERT_TRUE(db.Exec(statement, &error)) << statement << "\n" << error;
   }
}

// Takes back StopUpgradeAt: the next run goes on to the end.
inline void LetUpgradeGoOn(TestDatabase &db)
{
   const std::string dialect = CurrentEngine().dialect;
   std::vector<std::string> statements = {"DROP TRIGGER stop_upgrade"};
   if (dialect == "pgsql")
      statements = {"DROP TRIGGER stop_upgrade ON config", "DROP FUNCTION stop_upgrade()"};
   for (const std::string &statement : statements)
   {
      std::string error;
      ASSERT_TRUE(db.Exec(statement, &error)) << statement << "\n" << error;
   }
}

// What the upgrade tests look at in a database after a run.
class UpgradeTest : public EngineTest
{
protected:
   // The stored value of a configuration variable, or "<none>".
   std::string Config(const std::string &name) { return db().ConfigValue(name); }
   // "is_visible,need_server_restart" of a variable, or "<none>".
   std::string ConfigFlags(const std::string &name)
   {
      Rows rows = db().Query("SELECT is_visible,need_server_restart FROM config WHERE var_name='" + name + "'");
      return rows.empty() ? "<none>" : rows[0][0] + "," + rows[0][1];
   }
   bool TableExists(const std::string &table) { return db().Exec("SELECT * FROM " + table + " WHERE 1=0"); }
   bool ColumnExists(const std::string &table, const std::string &column)
   {
      return db().Exec("SELECT " + column + " FROM " + table + " WHERE 1=0");
   }
   bool IsMySql() { return db().engine() == "mysql"; }
   // Index names are per schema on every engine here but MySQL.
   bool PerSchemaIndexNames() { return !IsMySql(); }
};
