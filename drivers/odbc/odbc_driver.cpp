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
#include "drivers/common/sqlstate.h"

namespace {

struct Connection
{
   SQLHENV env;
   SQLHDBC dbc;
   bool lost;  // the last failure's diagnostics said the connection is gone
};

// Collects every diagnostic record of |handle| into one line: the data
// source's own messages, joined by "; ". Sets |*lost| when a record's SQLSTATE
// says the connection is gone.
void SetError(char *error, SQLSMALLINT type, SQLHANDLE handle, const char *fallback, bool *lost = nullptr)
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
      if (lost != nullptr && IsConnectionLostState(reinterpret_cast<const char *>(state)))
         *lost = true;
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

   Connection *c = new Connection{SQL_NULL_HENV, SQL_NULL_HDBC, false};
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
   c->lost = false;
   if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, c->dbc, &s->handle)))
   {
      SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot allocate an ODBC statement", &c->lost);
      s->handle = SQL_NULL_HSTMT;
      return false;
   }
   SQLRETURN rc = SQLExecDirect(s->handle, (SQLCHAR *)text, SQL_NTS);
   if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
      return true;
   SetError(error, SQL_HANDLE_STMT, s->handle, "the statement failed", &c->lost);
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

// Text width in bytes (with the terminator) of each column when every column
// has a bounded width, for fetching blocks of rows into bound buffers; an empty
// list when some column is long or of unknown width.
std::vector<SQLLEN> BoundWidths(SQLHSTMT stmt, SQLSMALLINT columns)
{
   const SQLLEN kMaxWidth = 8000;
   std::vector<SQLLEN> widths;
   for (SQLSMALLINT i = 1; i <= columns; i++)
   {
      SQLCHAR name[256];
      SQLSMALLINT nameLength, type, digits, nullable;
      SQLULEN size;
      SQLLEN display = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(stmt, (SQLUSMALLINT)i, name, sizeof(name), &nameLength, &type, &size, &digits,
                                        &nullable)) ||
          !SQL_SUCCEEDED(SQLColAttribute(stmt, (SQLUSMALLINT)i, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display)))
         return {};
      if (type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR || type == SQL_LONGVARBINARY || size == 0 ||
          display <= 0 || display > kMaxWidth)
         return {};
      // A character may take up to four bytes once converted to text.
      widths.push_back(display * 4 + 1);
   }
   return widths;
}

// Reads the rows in blocks into column buffers bound once: far fewer calls
// than one SQLGetData per field. Returns false with the error set.
bool FetchBound(SQLHSTMT stmt, const std::vector<SQLLEN> &widths, KvRowSink sink, void *sinkContext, char *error,
                bool *lost)
{
   size_t columns = widths.size();
   SQLLEN rowBytes = 0;
   for (SQLLEN w : widths)
      rowBytes += w;
   SQLULEN block = (SQLULEN)(1024 * 1024 / rowBytes);
   block = block < 1 ? 1 : (block > 512 ? 512 : block);
   SQLULEN fetched = 0;
   if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0)) ||
       !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)(uintptr_t)block, 0)) ||
       !SQL_SUCCEEDED(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &block, 0, nullptr)) ||
       !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)))
   {
      block = 1;  // a driver without block cursors: one row at a time, still bound
      SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0);
      SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
   }
   std::vector<std::vector<char>> data(columns);
   std::vector<std::vector<SQLLEN>> indicators(columns);
   for (size_t i = 0; i < columns; i++)
   {
      data[i].resize((size_t)widths[i] * block);
      indicators[i].resize(block);
      if (!SQL_SUCCEEDED(SQLBindCol(stmt, (SQLUSMALLINT)(i + 1), SQL_C_CHAR, data[i].data(), widths[i],
                                    indicators[i].data())))
      {
         SetError(error, SQL_HANDLE_STMT, stmt, "cannot bind a column");
         return false;
      }
   }
   std::vector<const char *> values(columns);
   std::vector<size_t> lengths(columns);
   SQLRETURN rc;
   while ((rc = SQLFetch(stmt)) != SQL_NO_DATA)
   {
      if (!SQL_SUCCEEDED(rc))
      {
         SetError(error, SQL_HANDLE_STMT, stmt, "cannot fetch a row", lost);
         return false;
      }
      for (SQLULEN r = 0; r < fetched; r++)
      {
         for (size_t i = 0; i < columns; i++)
         {
            SQLLEN indicator = indicators[i][r];
            if (indicator == SQL_NULL_DATA)
            {
               values[i] = nullptr;
               lengths[i] = 0;
               continue;
            }
            // The declared width was wrong: never hand on a cut value.
            if (indicator == SQL_NO_TOTAL || indicator < 0 || indicator >= widths[i])
            {
               snprintf(error, KV_DRIVER_ERROR_SIZE, "a value of column %d is longer than the column's declared size",
                        (int)i + 1);
               return false;
            }
            values[i] = data[i].data() + (size_t)r * (size_t)widths[i];
            lengths[i] = (size_t)indicator;
         }
         if (!sink(sinkContext, (int)columns, values.data(), lengths.data()))
         {
            snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory reading the result");
            return false;
         }
      }
   }
   return true;
}

// Reads the rows one at a time, every field with SQLGetData in as many pieces
// as it takes: for results with long columns.
bool FetchPieces(SQLHSTMT stmt, SQLSMALLINT columns, KvRowSink sink, void *sinkContext, char *error, bool *lost)
{
   std::vector<std::vector<char>> buffers((size_t)columns, std::vector<char>(256));
   std::vector<const char *> values((size_t)columns);
   std::vector<size_t> lengths((size_t)columns);
   SQLRETURN rc;
   while ((rc = SQLFetch(stmt)) != SQL_NO_DATA)
   {
      if (!SQL_SUCCEEDED(rc))
      {
         SetError(error, SQL_HANDLE_STMT, stmt, "cannot fetch a row", lost);
         return false;
      }
      for (SQLSMALLINT i = 0; i < columns; i++)
      {
         bool isNull;
         if (!ReadField(stmt, (SQLUSMALLINT)(i + 1), &buffers[(size_t)i], &lengths[(size_t)i], &isNull))
         {
            SetError(error, SQL_HANDLE_STMT, stmt, "cannot read a field", lost);
            return false;
         }
         values[(size_t)i] = isNull ? nullptr : buffers[(size_t)i].data();
      }
      if (!sink(sinkContext, columns, values.data(), lengths.data()))
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory reading the result");
         return false;
      }
   }
   return true;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   Statement s;
   if (!Run(c, &s, query, error))
      return 0;
   SQLSMALLINT columns = 0;
   if (!SQL_SUCCEEDED(SQLNumResultCols(s.handle, &columns)))
   {
      SetError(error, SQL_HANDLE_STMT, s.handle, "cannot read the result", &c->lost);
      return 0;
   }
   if (columns <= 0)
      return 1;  // a statement without a result set
   std::vector<SQLLEN> widths = BoundWidths(s.handle, columns);
   bool ok = widths.empty() ? FetchPieces(s.handle, columns, sink, sinkContext, error, &c->lost)
                            : FetchBound(s.handle, widths, sink, sinkContext, error, &c->lost);
   return ok ? 1 : 0;
}

bool SetAutocommit(Connection *c, bool on, char *error)
{
   SQLRETURN rc = SQLSetConnectAttr(c->dbc, SQL_ATTR_AUTOCOMMIT,
                                    (SQLPOINTER)(uintptr_t)(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
   if (SQL_SUCCEEDED(rc))
      return true;
   SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot change autocommit", &c->lost);
   return false;
}

int Begin(void *connection, char *error)
{
   Connection *c = static_cast<Connection *>(connection);
   c->lost = false;
   return SetAutocommit(c, false, error) ? 1 : 0;
}

// Ends the transaction with |completion| and goes back to autocommit.
int End(Connection *c, SQLSMALLINT completion, char *error)
{
   c->lost = false;
   bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c->dbc, completion));
   if (!ok)
      SetError(error, SQL_HANDLE_DBC, c->dbc, "cannot end the transaction", &c->lost);
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

// The failure's SQLSTATEs decide; a driver that reported some other state may
// still know that the connection is dead (SQL_ATTR_CONNECTION_DEAD).
int ConnectionLost(void *connection)
{
   Connection *c = static_cast<Connection *>(connection);
   if (c->lost)
      return 1;
   SQLUINTEGER dead = SQL_CD_FALSE;
   SQLRETURN rc = SQLGetConnectAttr(c->dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
   return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE ? 1 : 0;
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "odbc", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback,
                          ConnectionLost};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
