// Driver module for ODBC data sources through unixODBC: the way to MSSQL and
// Oracle. DBServer names a data source (DSN), used with DBLogin and
// DBPassword; DBName, when given, chooses the database (DATABASE keyword).
// DBDrvParams holds further connection-string keywords, or a full connection
// string of its own ("Driver=...;Server=...;") when DBServer is empty.
//
// Outside a transaction statements take effect by themselves (autocommit);
// begin turns autocommit off until the commit or rollback.
#include "lib/kvsrv/kvsrv_driver.h"

#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "drivers/common/pin.h"

namespace {

struct Connection
{
   SQLHENV env;
   SQLHDBC dbc;
};

// Collects every diagnostic record of |handle| into one line: the data
// source's own messages, joined by "; ".
void SetError(char *error, SQLSMALLINT type, SQLHANDLE handle, const char *fallback)
{
   std::string text;
   SQLCHAR state[6];
   SQLCHAR message[1024];
   SQLINTEGER native;
   SQLSMALLINT length;
   for (SQLSMALLINT i = 1; handle != SQL_NULL_HANDLE; i++)
   {
      SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, message, sizeof(message), &length);
      if (!SQL_SUCCEEDED(rc))
         break;
      std::string part = reinterpret_cast<const char *>(message);
      for (char &c : part)
         if (c == '\n' || c == '\r')
            c = ' ';
      while (!part.empty() && (part.back() == ' ' || part.back() == ';'))
         part.pop_back();
      if (part.empty())
         continue;
      if (!text.empty())
         text += "; ";
      text += part;
   }
   snprintf(error, KV_DRIVER_ERROR_SIZE, "%s", text.empty() ? fallback : text.c_str());
}

// Appends "KEY=value;" with the value braced when it holds characters that
// would end or open it.
void AddKeyword(std::string *text, const char *key, const char *value)
{
   if (value == nullptr || *value == 0)
      return;
   std::string v = value;
   *text += key;
   *text += '=';
   if (v.find_first_of(";{}=") != std::string::npos || v.front() == ' ' || v.back() == ' ')
   {
      *text += '{';
      for (char c : v)
      {
         *text += c;
         if (c == '}')
            *text += '}';
      }
      *text += '}';
   }
   else
   {
      *text += v;
   }
   *text += ';';
}

void Release(Connection *c)
{
   if (c->dbc != SQL_NULL_HDBC)
      SQLFreeHandle(SQL_HANDLE_DBC, c->dbc);
   if (c->env != SQL_NULL_HENV)
      SQLFreeHandle(SQL_HANDLE_ENV, c->env);
   delete c;
}

void *Connect(const KvDriverConnectParams *params, char *error)
{
   // The driver manager, and the drivers it holds, outlive this module.
   static bool pinned = PinLibraryOf(reinterpret_cast<void *>(&SQLAllocHandle));
   (void)pinned;
   bool haveServer = params->server != nullptr && *params->server != 0;
   bool haveParams = params->params != nullptr && *params->params != 0;
   if (!haveServer && !haveParams)
   {
      snprintf(error, KV_DRIVER_ERROR_SIZE,
               "no ODBC data source: give its name in DBServer or a connection string in DBDrvParams");
      return nullptr;
   }
   std::string connection;
   if (haveServer)
      AddKeyword(&connection, "DSN", params->server);
   AddKeyword(&connection, "DATABASE", params->database);
   AddKeyword(&connection, "UID", params->login);
   AddKeyword(&connection, "PWD", params->password);
   if (haveParams)
      connection += params->params;

   Connection *c = new Connection{SQL_NULL_HENV, SQL_NULL_HDBC};
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &c->env)) ||
       !SQL_SUCCEEDED(SQLSetEnvAttr(c->env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
       !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, c->env, &c->dbc)))
   {
      SetError(error, SQL_HANDLE_ENV, c->env, "cannot set up the ODBC environment");
      Release(c);
      return nullptr;
   }
   SQLCHAR completed[1024];
   SQLSMALLINT completedLength = 0;
   SQLRETURN rc = SQLDriverConnect(c->dbc, nullptr, (SQLCHAR *)connection.c_str(), SQL_NTS, completed,
                                   sizeof(completed), &completedLength, SQL_DRIVER_NOPROMPT);
   if (!SQL_SUCCEEDED(rc))
   {
      SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot connect to the ODBC data source");
      Release(c);
      return nullptr;
   }
   return c;
}

void Disconnect(void *connection)
{
   Connection *c = static_cast<Connection *>(connection);
   SQLDisconnect(c->dbc);
   Release(c);
}

// A statement handle for one statement; freed by its destructor.
struct Statement
{
   SQLHSTMT handle = SQL_NULL_HSTMT;
   ~Statement()
   {
      if (handle != SQL_NULL_HSTMT)
         SQLFreeHandle(SQL_HANDLE_STMT, handle);
   }
};

// Runs |text| on a new statement handle; true on success. An update that
// touched no row (SQL_NO_DATA) is a success.
bool Run(Connection *c, Statement *s, const char *text, char *error)
{
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, c->dbc, &s->handle)))
   {
      SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot allocate an ODBC statement");
      s->handle = SQL_NULL_HSTMT;
      return false;
   }
   SQLRETURN rc = SQLExecDirect(s->handle, (SQLCHAR *)text, SQL_NTS);
   if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
      return true;
   SetError(error, SQL_HANDLE_STMT, s->handle, "the statement failed");
   return false;
}

int Execute(void *connection, const char *statement, char *error)
{
   Statement s;
   return Run(static_cast<Connection *>(connection), &s, statement, error) ? 1 : 0;
}

// Reads column |column| (from 1) of the current row as text into |buffer|;
// |isNull| tells an SQL NULL. False on failure.
bool ReadField(SQLHSTMT stmt, SQLUSMALLINT column, std::vector<char> *buffer, size_t *length, bool *isNull)
{
   size_t used = 0;
   *isNull = false;
   while (true)
   {
      SQLLEN indicator = 0;
      SQLLEN room = (SQLLEN)(buffer->size() - used);
      SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer->data() + used, room, &indicator);
      if (rc == SQL_NO_DATA)
         break;  // all of a long value has been read
      if (!SQL_SUCCEEDED(rc))
         return false;
      if (indicator == SQL_NULL_DATA)
      {
         *isNull = true;
         *length = 0;
         return true;
      }
      if (rc == SQL_SUCCESS || (indicator != SQL_NO_TOTAL && indicator < room))
      {
         used += (size_t)indicator;
         break;
      }
      // Cut to fit: keep what came (without its terminator) and make room for the rest.
      used += (size_t)room - 1;
      size_t needed = indicator == SQL_NO_TOTAL ? buffer->size() * 2 : used + (size_t)indicator + 1;
      buffer->resize(needed > buffer->size() * 2 ? needed : buffer->size() * 2);
   }
   *length = used;
   return true;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   Statement s;
   if (!Run(static_cast<Connection *>(connection), &s, query, error))
      return 0;
   SQLSMALLINT columns = 0;
   if (!SQL_SUCCEEDED(SQLNumResultCols(s.handle, &columns)))
   {
      SetError(error, SQL_HANDLE_STMT, s.handle, "cannot read the result");
      return 0;
   }
   if (columns <= 0)
      return 1;  // a statement without a result set
   std::vector<std::vector<char>> buffers((size_t)columns, std::vector<char>(256));
   std::vector<const char *> values((size_t)columns);
   std::vector<size_t> lengths((size_t)columns);
   SQLRETURN rc;
   while ((rc = SQLFetch(s.handle)) != SQL_NO_DATA)
   {
      if (!SQL_SUCCEEDED(rc))
      {
         SetError(error, SQL_HANDLE_STMT, s.handle, "cannot fetch a row");
         return 0;
      }
      for (SQLSMALLINT i = 0; i < columns; i++)
      {
         bool isNull;
         if (!ReadField(s.handle, (SQLUSMALLINT)(i + 1), &buffers[(size_t)i], &lengths[(size_t)i], &isNull))
         {
            SetError(error, SQL_HANDLE_STMT, s.handle, "cannot read a field");
            return 0;
         }
         values[(size_t)i] = isNull ? nullptr : buffers[(size_t)i].data();
      }
      if (!sink(sinkContext, columns, values.data(), lengths.data()))
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory reading the result");
         return 0;
      }
   }
   return 1;
}

bool SetAutocommit(Connection *c, bool on, char *error)
{
   SQLRETURN rc = SQLSetConnectAttr(c->dbc, SQL_ATTR_AUTOCOMMIT,
                                    (SQLPOINTER)(uintptr_t)(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
   if (SQL_SUCCEEDED(rc))
      return true;
   SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot change autocommit");
   return false;
}

int Begin(void *connection, char *error)
{
   return SetAutocommit(static_cast<Connection *>(connection), false, error) ? 1 : 0;
}

// Ends the transaction with |completion| and goes back to autocommit.
int End(Connection *c, SQLSMALLINT completion, char *error)
{
   bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c->dbc, completion));
   if (!ok)
      SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot end the transaction");
   char ignored[KV_DRIVER_ERROR_SIZE];
   if (!SetAutocommit(c, true, ok ? error : ignored))
      ok = false;
   return ok ? 1 : 0;
}

int Commit(void *connection, char *error)
{
   return End(static_cast<Connection *>(connection), SQL_COMMIT, error);
}

int Rollback(void *connection, char *error)
{
   return End(static_cast<Connection *>(connection), SQL_ROLLBACK, error);
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "odbc", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
