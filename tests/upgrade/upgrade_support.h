// Shared by the upgrade tests: loading the fixtures and the texts
// every upgrade run prints.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/engines.h"
#include "tests/support/harness.h"

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
