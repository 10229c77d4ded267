// Driver module for SQLite: DBName is the database file, created when missing.
#include "lib/kvsrv/kvsrv_driver.h"

#include <sqlite3.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

void SetError(char *error, sqlite3 *db)
{
   snprintf(error, KV_DRIVER_ERROR_SIZE, "%s", db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

void *Connect(const KvDriverConnectParams *params, char *error)
{
   sqlite3 *db = nullptr;
   int rc = sqlite3_open_v2(params->database, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
   if (rc != SQLITE_OK)
   {
      snprintf(error, KV_DRIVER_ERROR_SIZE, "%s: %s", params->database,
               db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
      sqlite3_close(db);
      return nullptr;
   }
   // A server that holds the database briefly should delay us, not fail us.
   sqlite3_busy_timeout(db, 10000);
   sqlite3_extended_result_codes(db, 0);
   return db;
}

void Disconnect(void *connection)
{
   sqlite3_close(static_cast<sqlite3 *>(connection));
}

int Execute(void *connection, const char *statement, char *error)
{
   sqlite3 *db = static_cast<sqlite3 *>(connection);
   char *message = nullptr;
   if (sqlite3_exec(db, statement, nullptr, nullptr, &message) == SQLITE_OK)
      return 1;
   snprintf(error, KV_DRIVER_ERROR_SIZE, "%s", message != nullptr ? message : sqlite3_errmsg(db));
   sqlite3_free(message);
   return 0;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   sqlite3 *db = static_cast<sqlite3 *>(connection);
   sqlite3_stmt *stmt = nullptr;
   if (sqlite3_prepare_v2(db, query, -1, &stmt, nullptr) != SQLITE_OK)
   {
      SetError(error, db);
      return 0;
   }
   if (stmt == nullptr)  // nothing but blanks or comments
   {
      snprintf(error, KV_DRIVER_ERROR_SIZE, "empty query");
      return 0;
   }
   int columns = sqlite3_column_count(stmt);
   std::vector<const char *> values((size_t)columns);
   std::vector<size_t> lengths((size_t)columns);
   int rc;
   while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
   {
      for (int i = 0; i < columns; i++)
      {
         values[(size_t)i] = (const char *)sqlite3_column_text(stmt, i);
         lengths[(size_t)i] = (size_t)sqlite3_column_bytes(stmt, i);
      }
      if (!sink(sinkContext, columns, values.data(), lengths.data()))
      {
         snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory reading the result");
         sqlite3_finalize(stmt);
         return 0;
      }
   }
   if (rc != SQLITE_DONE)
   {
      SetError(error, db);
      sqlite3_finalize(stmt);
      return 0;
   }
   sqlite3_finalize(stmt);
   return 1;
}

int Begin(void *connection, char *error)
{
   return Execute(connection, "BEGIN", error);
}

int Commit(void *connection, char *error)
{
   return Execute(connection, "COMMIT", error);
}

int Rollback(void *connection, char *error)
{
   return Execute(connection, "ROLLBACK", error);
}

// A database file has no connection to lose.
int ConnectionLost(void *)
{
   return 0;
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "sqlite", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback,
                          ConnectionLost};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
