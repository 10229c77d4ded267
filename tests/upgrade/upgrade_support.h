// Shared by the upgrade tests: loading the fixtures and the texts
// every upgrade run prints.
#pragma once

#include <algorithm>
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
