// Driver module for PostgreSQL on libpq. DBServer is "host" or "host:port" (a
// path starting with '/' names the folder of the server's socket), DBName,
// DBLogin and DBPassword as usual, and DBDrvParams adds libpq connection
// keywords ("sslmode=disable connect_timeout=5").
//
// PostgreSQL aborts a whole transaction after any failed statement. Inside an
// explicit transaction every statement and select therefore runs under a
// savepoint and is rolled back to it on failure: a failed statement costs only
// itself, the next one works and the commit keeps the rest.
//
// Rows are streamed in single-row mode straight into the caller's sink, so a
// large result is never held twice.
#include "lib/kvsrv/kvsrv_driver.h"

#include <libpq-fe.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "drivers/common/address.h"
#include "drivers/common/pin.h"

namespace {

struct Connection
{
   PGconn *conn;
   bool inTransaction;
   int depth;   // transactions begun and not ended; those inside the first are savepoints
};

// Copies a libpq message on one line: its own line breaks and indents (libpq's
// texts for a lost connection have them) become single blanks, and the
// trailing line break goes.
void SetError(char *error, const char *message)
{
   if (message == nullptr || *message == 0)
      message = "unknown PostgreSQL error";
   size_t n = 0;
   for (const char *p = message; *p != 0 && n < KV_DRIVER_ERROR_SIZE - 1; p++)
   {
      bool blank = *p == '\n' || *p == '\r' || *p == '\t';
      if (!blank)
         error[n++] = *p;
      else if (n > 0 && error[n - 1] != ' ')
         error[n++] = ' ';
   }
   while (n > 0 && error[n - 1] == ' ')
      n--;
   error[n] = 0;
}

// Appends " keyword='value'" with the quoting libpq expects.
void AddKeyword(std::string *conninfo, const char *keyword, const std::string &value)
{
   if (value.empty())
      return;
   *conninfo += ' ';
   *conninfo += keyword;
   *conninfo += "='";
   for (char c : value)
   {
      if (c == '\'' || c == '\\')
         *conninfo += '\\';
      *conninfo += c;
   }
   *conninfo += '\'';
}

// Notices ("table does not exist, skipping") are not the tool's output.
void IgnoreNotice(void *, const char *)
{
}

void *Connect(const KvDriverConnectParams *params, char *error)
{
   static bool pinned = PinLibraryOf(reinterpret_cast<void *>(&PQconnectdb));
   (void)pinned;
   std::string host, port;
   SplitServerAddress(params->server != nullptr ? params->server : "", &host, &port);
   std::string conninfo;
   AddKeyword(&conninfo, "host", host);
   AddKeyword(&conninfo, "port", port);
   AddKeyword(&conninfo, "dbname", params->database != nullptr ? params->database : "");
   AddKeyword(&conninfo, "user", params->login != nullptr ? params->login : "");
   AddKeyword(&conninfo, "password", params->password != nullptr ? params->password : "");
   // Given last, so that DBDrvParams can override any of the above.
   if (params->params != nullptr && *params->params != 0)
      conninfo += std::string(" ") + params->params;

   PGconn *conn = PQconnectdb(conninfo.c_str());
   if (conn == nullptr)
   {
      SetError(error, "out of memory");
      return nullptr;
   }
   if (PQstatus(conn) != CONNECTION_OK)
   {
      SetError(error, PQerrorMessage(conn));
      PQfinish(conn);
      return nullptr;
   }
   PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
   // One line per error: the message without the statement's context lines.
   PQsetErrorVerbosity(conn, PQERRORS_TERSE);
   return new Connection{conn, false, 0};
}

void Disconnect(void *connection)
{
   Connection *c = static_cast<Connection *>(connection);
   PQfinish(c->conn);
   delete c;
}

// Runs a statement whose result carries no rows; true on success.
bool Run(Connection *c, const char *statement, char *error, std::string *commandStatus = nullptr)
{
   PGresult *res = PQexec(c->conn, statement);
   ExecStatusType status = PQresultStatus(res);
   bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
   if (!ok)
      SetError(error, res != nullptr ? PQresultErrorMessage(res) : PQerrorMessage(c->conn));
   else if (commandStatus != nullptr)
      *commandStatus = PQcmdStatus(res);
   PQclear(res);
   return ok;
}

// The savepoint opens and closes in the same round trip as the statement it
// guards: one query string "SAVEPOINT; statement; RELEASE". The server stops at
// the first command that fails, so after a failure only the rollback to the
// savepoint is left to send. The line break keeps a trailing "--" comment of
// the statement from swallowing the RELEASE.
const char kSavepoint[] = "SAVEPOINT kv_statement;";
const char kRelease[] = "\n;RELEASE SAVEPOINT kv_statement";
const char kRollbackTo[] = "ROLLBACK TO SAVEPOINT kv_statement;RELEASE SAVEPOINT kv_statement";

// The text to send for |statement|: wrapped in the savepoint inside a transaction.
std::string Guarded(const Connection *c, const char *statement)
{
   if (!c->inTransaction)
      return statement;
   return std::string(kSavepoint) + statement + kRelease;
}

// After a guarded statement failed: undoes it alone, so the transaction goes
// on (the failure's text in |error| is kept).
void UndoGuarded(Connection *c)
{
   if (!c->inTransaction)
      return;
   char ignored[KV_DRIVER_ERROR_SIZE];
   Run(c, kRollbackTo, ignored);
}

int Execute(void *connection, const char *statement, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   if (Run(c, Guarded(c, statement).c_str(), error))
      return 1;
   UndoGuarded(c);
   return 0;
}

// Streams the rows of |query| into |sink|; true on success.
bool StreamRows(Connection *c, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   if (!PQsendQuery(c->conn, query))
   {
      SetError(error, PQerrorMessage(c->conn));
      return false;
   }
   // Cannot fail right after PQsendQuery; if it did, the rows would only come whole.
   (void)PQsetSingleRowMode(c->conn);
   bool ok = true;
   bool sinkFailed = false;
   std::vector<const char *> values;
   std::vector<size_t> lengths;
   // Every result up to the terminating null must be read, also after a
   // failure, or the connection stays busy. The savepoint commands around a
   // guarded select bring results without rows.
   while (PGresult *res = PQgetResult(c->conn))
   {
      ExecStatusType status = PQresultStatus(res);
      if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK)
      {
         int columns = PQnfields(res);
         int rows = PQntuples(res);
         values.resize((size_t)columns);
         lengths.resize((size_t)columns);
         for (int r = 0; r < rows && ok; r++)
         {
            for (int i = 0; i < columns; i++)
            {
               bool null = PQgetisnull(res, r, i);
               values[(size_t)i] = null ? nullptr : PQgetvalue(res, r, i);
               lengths[(size_t)i] = null ? 0 : (size_t)PQgetlength(res, r, i);
            }
            if (!sink(sinkContext, columns, values.data(), lengths.data()))
            {
               ok = false;
               sinkFailed = true;
            }
         }
      }
      else if (status != PGRES_COMMAND_OK && status != PGRES_EMPTY_QUERY)
      {
         if (ok)
            SetError(error, PQresultErrorMessage(res));
         ok = false;
      }
      PQclear(res);
   }
   if (sinkFailed)
      SetError(error, "out of memory reading the result");
   return ok;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   if (StreamRows(c, Guarded(c, query).c_str(), sink, sinkContext, error))
      return 1;
   UndoGuarded(c);
   return 0;
}

// A transaction begun inside another is a savepoint of it: ending it keeps or
// undoes its own work, and the outer transaction decides about the whole. The
// statement savepoints nest inside it like inside a transaction.
std::string NestedSavepoint(int depth)
{
   return "kv_nested_" + std::to_string(depth);
}

int Begin(void *connection, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   if (c->depth > 0)
   {
      if (!Run(c, ("SAVEPOINT " + NestedSavepoint(c->depth)).c_str(), error))
         return 0;
      c->depth++;
      return 1;
   }
   if (!Run(c, "BEGIN", error))
      return 0;
   c->inTransaction = true;
   c->depth = 1;
   return 1;
}

int Commit(void *connection, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   if (c->depth > 1)
   {
      c->depth--;
      return Run(c, ("RELEASE SAVEPOINT " + NestedSavepoint(c->depth)).c_str(), error) ? 1 : 0;
   }
   c->inTransaction = false;
   c->depth = 0;
   std::string status;
   if (!Run(c, "COMMIT", error, &status))
      return 0;
   // The server answers COMMIT of an aborted transaction with a rollback and no
   // error; the caller must not believe that its changes were kept.
   if (status == "ROLLBACK")
   {
      SetError(error, "the transaction was aborted and has been rolled back");
      return 0;
   }
   return 1;
}

int Rollback(void *connection, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   if (c->depth > 1)
   {
      c->depth--;
      std::string name = NestedSavepoint(c->depth);
      return Run(c, ("ROLLBACK TO SAVEPOINT " + name + ";RELEASE SAVEPOINT " + name).c_str(), error) ? 1 : 0;
   }
   c->inTransaction = false;
   c->depth = 0;
   return Run(c, "ROLLBACK", error) ? 1 : 0;
}

// libpq marks the connection bad once the server has closed it (the backend
// was terminated, the server shut down) or the network failed.
int ConnectionLost(void *connection)
{
   return PQstatus(static_cast<Connection *>(connection)->conn) == CONNECTION_BAD ? 1 : 0;
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "pgsql", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback,
                          ConnectionLost};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
