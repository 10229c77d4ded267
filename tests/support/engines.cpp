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

// The server engines: where the server is comes from the environment that
// scripts/servers prints; each test database is made and dropped through an
// administrative connection of the driver under test itself.
struct ServerEngine
{
   const char *name;
   const char *serverVariable;  // host:port, or the ODBC data source name
   const char *loginVariable;
   const char *passwordVariable;
   const char *adminDatabase;   // database the administrative connection opens
   const char *dropStatement;   // printf format with the database name
};

const ServerEngine kPgsql = {"pgsql", "KV_PGSQL_SERVER", "KV_PGSQL_LOGIN", "KV_PGSQL_PASSWORD", "postgres",
                             "DROP DATABASE IF EXISTS %s WITH (FORCE)"};
const ServerEngine kMysql = {"mysql", "KV_MYSQL_SERVER", "KV_MYSQL_LOGIN", "KV_MYSQL_PASSWORD", "",
                             "DROP DATABASE IF EXISTS %s"};
const ServerEngine kOdbc = {"odbc", "KV_ODBC_DSN", "KV_ODBC_LOGIN", "KV_ODBC_PASSWORD", "postgres",
                            "DROP DATABASE IF EXISTS %s WITH (FORCE)"};

std::string Env(const char *name)
{
   const char *value = getenv(name);
   return value != nullptr ? value : "";
}

bool ServerAvailable(const ServerEngine &e, std::string *why)
{
   if (!Env(e.serverVariable).empty())
      return true;
   *why = std::string(e.serverVariable) + " is not set, so engine " + e.name +
          " is skipped; scripts/test starts the test servers, or run: eval \"$(scripts/servers start)\"";
   return false;
}

ConnectionSettings ServerSettings(const ServerEngine &e, const std::string &database)
{
   ConnectionSettings s;
   s.server = Env(e.serverVariable);
   s.login = Env(e.loginVariable);
   s.password = Env(e.passwordVariable);
   s.database = database;
   return s;
}

// Runs one administrative statement on a connection to the admin database,
// opened once per process and kept; aborts the tests when it fails.
bool AdminExec(const ServerEngine &e, const std::string &statement, bool mustSucceed)
{
   static db_handle_t admin = nullptr;
   if (admin == nullptr)
   {
      ServerSettings(e, e.adminDatabase).Apply();
      admin = DBConnect();
      if (admin == nullptr)
      {
         fprintf(stderr, "cannot connect to the %s test server at %s\n", e.name, Env(e.serverVariable).c_str());
         abort();
      }
   }
   char error[1024];
   if (DBQueryEx(admin, statement.c_str(), error))
      return true;
   fprintf(stderr, "%s: %s: %s\n", e.name, statement.c_str(), error);
   if (mustSucceed)
      abort();
   return false;
}

ConnectionSettings ServerCreate(const ServerEngine &e, const std::string &name)
{
   char drop[256];
   snprintf(drop, sizeof(drop), e.dropStatement, name.c_str());
   AdminExec(e, drop, false);  // left over by a crashed run with the same process id
   AdminExec(e, "CREATE DATABASE " + name, true);
   return ServerSettings(e, name);
}

void ServerDrop(const ServerEngine &e, const std::string &name)
{
   char drop[256];
   snprintf(drop, sizeof(drop), e.dropStatement, name.c_str());
   AdminExec(e, drop, false);
}

bool PgsqlAvailable(std::string *why)
{
   return ServerAvailable(kPgsql, why);
}
ConnectionSettings PgsqlCreate(const std::string &name, const TempDir &)
{
   return ServerCreate(kPgsql, name);
}
void PgsqlDrop(const std::string &name, const TempDir &)
{
   ServerDrop(kPgsql, name);
}

bool MysqlAvailable(std::string *why)
{
   return ServerAvailable(kMysql, why);
}
ConnectionSettings MysqlCreate(const std::string &name, const TempDir &)
{
   return ServerCreate(kMysql, name);
}
void MysqlDrop(const std::string &name, const TempDir &)
{
   ServerDrop(kMysql, name);
}

bool OdbcAvailable(std::string *why)
{
   return ServerAvailable(kOdbc, why);
}
ConnectionSettings OdbcCreate(const std::string &name, const TempDir &)
{
   return ServerCreate(kOdbc, name);
}
void OdbcDrop(const std::string &name, const TempDir &)
{
   ServerDrop(kOdbc, name);
}

const EngineOps kEngines[] = {
   {"sqlite", "sqlite", "SQLITE", "sqlite", SqliteAvailable, SqliteCreate, SqliteDrop},
   {"pgsql", "pgsql", "PGSQL", "pgsql", PgsqlAvailable, PgsqlCreate, PgsqlDrop},
   {"mysql", "mysql", "MYSQL", "mysql", MysqlAvailable, MysqlCreate, MysqlDrop},
   // PostgreSQL through its ODBC driver: the way MSSQL and Oracle are reached.
   {"odbc", "odbc", "PGSQL", "pgsql", OdbcAvailable, OdbcCreate, OdbcDrop},
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
