// Engines under test.
#include "tests/support/engines.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/kvsrv/kvsrv.h"
#include "tests/support/harness.h"

std::string ConnectionSettings::ConfigLines() const
{
   std::string lines;
   auto add = [&lines](const char *keyword, const std::string &value) {
      if (!value.empty())
         lines += std::string(keyword) + " = \"" + value + "\"\n";
   };
   add("DBServer", server);
   add("DBName", database);
   add("DBLogin", login);
   add("DBPassword", password);
   add("DBDrvParams", params);
   return lines;
}

void ConnectionSettings::Apply() const
{
   snprintf(g_szDbServer, sizeof(g_szDbServer), "%s", server.c_str());
   snprintf(g_szDbName, sizeof(g_szDbName), "%s", database.c_str());
   snprintf(g_szDbLogin, sizeof(g_szDbLogin), "%s", login.c_str());
   snprintf(g_szDbPassword, sizeof(g_szDbPassword), "%s", password.c_str());
   snprintf(g_szDbDrvParams, sizeof(g_szDbDrvParams), "%s", params.c_str());
}

namespace {

bool SqliteAvailable(std::string *)
{
   return true;
}

ConnectionSettings SqliteCreate(const std::string &, const TempDir &dir)
{
   ConnectionSettings s;
   s.database = dir.File("korvel.db");
   return s;
}

void SqliteDrop(const std::string &, const TempDir &)
{
   // The file goes with the temporary directory.
}

bool NotConfigured(std::string *why)
{
   *why = std::string("engine ") + getenv("KV_TEST_ENGINE") +
          " is not set up here; scripts/test starts its server and runs these tests";
   return false;
}

ConnectionSettings NoCreate(const std::string &, const TempDir &)
{
   abort();
}

void NoDrop(const std::string &, const TempDir &)
{
}

const EngineOps kEngines[] = {
   {"sqlite", "sqlite", "SQLITE", SqliteAvailable, SqliteCreate, SqliteDrop},
   {"pgsql", "pgsql", "PGSQL", NotConfigured, NoCreate, NoDrop},
   {"mysql", "mysql", "MYSQL", NotConfigured, NoCreate, NoDrop},
   {"odbc", "odbc", "PGSQL", NotConfigured, NoCreate, NoDrop},
};

}  // namespace

const EngineOps &CurrentEngine()
{
   const char *name = getenv("KV_TEST_ENGINE");
   if (name == nullptr || *name == 0)
      return kEngines[0];
   for (const EngineOps &e : kEngines)
      if (strcmp(e.name, name) == 0)
         return e;
   fprintf(stderr, "unknown KV_TEST_ENGINE %s\n", name);
   abort();
}
