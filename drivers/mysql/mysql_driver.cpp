// Driver module for MySQL and MariaDB on MariaDB Connector/C. DBServer is
// "host", "host:port" or the path of the server's socket (starting with '/');
// DBName, DBLogin and DBPassword as usual. DBDrvParams holds options separated
// by ';' or blanks: charset=<name>, connect_timeout=<s>, read_timeout=<s>,
// write_timeout=<s>.
//
// Statements outside a transaction take effect by themselves (autocommit); a
// transaction runs with autocommit off, so that it goes on after the commit the
// server makes before each DDL statement. Rows are streamed from the
// server (mysql_use_result) straight into the caller's sink. The session
// runs with NO_BACKSLASH_ESCAPES: a backslash in a literal is a plain character.
#include "lib/kvsrv/kvsrv_driver.h"

#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "drivers/common/address.h"

namespace {

void SetError(char *error, MYSQL *m)
{
   const char *text = m != nullptr ? mysql_error(m) : "";
   snprintf(error, KV_DRIVER_ERROR_SIZE, "%s", (text != nullptr && *text != 0) ? text : "unknown MySQL error");
}

// Applies DBDrvParams; false with the reason in |error| for an unknown or bad option.
bool ApplyOptions(MYSQL *m, const char *params, char *error)
{
   std::string text = params != nullptr ? params : "";
   size_t pos = 0;
   while (pos < text.size())
   {
      size_t end = text.find_first_of("; \t", pos);
      if (end == std::string::npos)
         end = text.size();
      std::string item = text.substr(pos, end - pos);
      pos = end + 1;
      if (item.empty())
         continue;
      size_t eq = item.find('=');
      std::string key = item.substr(0, eq);
      std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
      unsigned int seconds = (unsigned int)strtoul(value.c_str(), nullptr, 10);
      int rc;
      if (key == "charset" && !value.empty())
         rc = mysql_options(m, MYSQL_SET_CHARSET_NAME, value.c_str());
      else if (key == "connect_timeout" && seconds > 0)
         rc = mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
      else if (key == "read_timeout" && seconds > 0)
         rc = mysql_options(m, MYSQL_OPT_READ_TIMEOUT, &seconds);
      else if (key == "write_timeout" && seconds > 0)
         rc = mysql_options(m, MYSQL_OPT_WRITE_TIMEOUT, &seconds);
      else
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE,
                  "unknown or invalid driver option \"%s\" (known: charset, connect_timeout, read_timeout, "
                  "write_timeout)",
                  item.c_str());
         return false;
      }
      if (rc != 0)
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE, "driver option \"%s\" was refused", item.c_str());
         return false;
      }
   }
   return true;
}

void *Connect(const KvDriverConnectParams *params, char *error)
{
   MYSQL *m = mysql_init(nullptr);
   if (m == nullptr)
   {
      snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory");
      return nullptr;
   }
   if (!ApplyOptions(m, params->params, error))
   {
      mysql_close(m);
      return nullptr;
   }
   // Every statement the tool builds quotes text copied into it by doubling
   // single quotes, the one rule that holds on every dialect. By default the
   // server also reads a backslash as an escape, so a stored text ending in
   // "\" or holding "\'" could end the literal early and rewrite the
   // statement. The session drops backslash escapes for good at connect,
   // whatever the server's own mode: escaping backslashes as well would
   // double every stored backslash on a server that already runs without
   // them. A session that cannot be set so is refused as a failed connect.
   mysql_options(m, MYSQL_INIT_COMMAND,
                 "SET SESSION sql_mode=CONCAT(@@SESSION.sql_mode,"
                 "IF(@@SESSION.sql_mode='','',','),'NO_BACKSLASH_ESCAPES')");
   std::string server = params->server != nullptr ? params->server : "";
   std::string host, port, socket;
   if (!server.empty() && server[0] == '/')
      socket = server;
   else
      SplitServerAddress(server, &host, &port);
   const char *database = (params->database != nullptr && *params->database != 0) ? params->database : nullptr;
   if (mysql_real_connect(m, host.empty() ? nullptr : host.c_str(), params->login, params->password, database,
                          (unsigned int)strtoul(port.c_str(), nullptr, 10), socket.empty() ? nullptr : socket.c_str(),
                          0) == nullptr)
   {
      SetError(error, m);
      mysql_close(m);
      return nullptr;
   }
   return m;
}

void Disconnect(void *connection)
{
   mysql_close(static_cast<MYSQL *>(connection));
}

// Sends |statement|; true when the server accepted it.
bool Send(MYSQL *m, const char *statement, char *error)
{
   if (mysql_real_query(m, statement, (unsigned long)strlen(statement)) == 0)
      return true;
   SetError(error, m);
   return false;
}

int Execute(void *connection, const char *statement, char *error)
{
   MYSQL *m = static_cast<MYSQL *>(connection);
   if (!Send(m, statement, error))
      return 0;
   // A statement that returns rows all the same: read and drop them, or the
   // connection stays out of step.
   if (MYSQL_RES *res = mysql_use_result(m))
   {
      while (mysql_fetch_row(res) != nullptr)
      {
      }
      mysql_free_result(res);
   }
   if (mysql_errno(m) != 0)
   {
      SetError(error, m);
      return 0;
   }
   return 1;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   MYSQL *m = static_cast<MYSQL *>(connection);
   if (!Send(m, query, error))
      return 0;
   MYSQL_RES *res = mysql_use_result(m);
   if (res == nullptr)
   {
      // No result set: a statement that returns no rows, or a failure.
      if (mysql_errno(m) != 0)
      {
         SetError(error, m);
         return 0;
      }
      return 1;
   }
   int columns = (int)mysql_num_fields(res);
   std::vector<size_t> lengths((size_t)columns);
   bool ok = true;
   while (MYSQL_ROW row = mysql_fetch_row(res))
   {
      unsigned long *rowLengths = mysql_fetch_lengths(res);
      for (int i = 0; i < columns; i++)
         lengths[(size_t)i] = row[i] != nullptr ? (size_t)rowLengths[i] : 0;
      if (!sink(sinkContext, columns, const_cast<const char *const *>(row), lengths.data()))
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory reading the result");
         ok = false;
         break;
      }
   }
   // The end of the rows or a failure while they came (the connection lost).
   if (ok && mysql_errno(m) != 0)
   {
      SetError(error, m);
      ok = false;
   }
   mysql_free_result(res);  // reads whatever rows are left
   return ok ? 1 : 0;
}

// A transaction turns autocommit off rather than opening with START
// TRANSACTION: the server commits by itself before every DDL statement, and a
// transaction opened by START TRANSACTION ends there, leaving every later
// statement to commit on its own. With autocommit off the server opens the
// next transaction by itself, so what follows the last DDL statement is still
// undone by a rollback.
int Begin(void *connection, char *error)
{
   return Send(static_cast<MYSQL *>(connection), "SET autocommit=0", error) ? 1 : 0;
}

// Turns autocommit back on after the transaction has ended, so that
// statements outside a transaction take effect by themselves again.
int Autocommit(MYSQL *m, char *error)
{
   return Send(m, "SET autocommit=1", error) ? 1 : 0;
}

// A commit that fails keeps nothing and leaves the session outside a
// transaction, as on every engine: what it left open is rolled back first,
// since turning autocommit on would commit it.
int Commit(void *connection, char *error)
{
   MYSQL *m = static_cast<MYSQL *>(connection);
   if (Send(m, "COMMIT", error))
      return Autocommit(m, error);
   char ignored[KV_DRIVER_ERROR_SIZE];
   if (Send(m, "ROLLBACK", ignored))
      Autocommit(m, ignored);
   return 0;
}

// After a failed rollback autocommit stays off, for the same reason: nothing
// the transaction did may be committed by turning it on.
int Rollback(void *connection, char *error)
{
   MYSQL *m = static_cast<MYSQL *>(connection);
   return Send(m, "ROLLBACK", error) ? Autocommit(m, error) : 0;
}

// The client library's process-wide state (character sets, plugins) is set up
// at the first connection; release it when the module is unloaded.
__attribute__((destructor)) void ReleaseClientLibrary()
{
   mysql_library_end();
}

// The errors of the last call that mean the connection is gone: the client
// found the server gone (2006) or lost it during a query (2013, and its
// extended form 2055), or the server killed this connection as it ran a query
// (1927, MariaDB). Automatic reconnection stays off: a new session would
// silently lose the open transaction.
int ConnectionLost(void *connection)
{
   switch (mysql_errno(static_cast<MYSQL *>(connection)))
   {
      case 1927:
      case 2006:
      case 2013:
      case 2055:
         return 1;
      default:
         return 0;
   }
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "mysql", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback,
                          ConnectionLost};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
