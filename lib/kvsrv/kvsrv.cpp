// Connections, statements, selects and transactions through the loaded driver.
#include "lib/kvsrv/internal.h"

#include <stdio.h>
#include <string.h>

char g_szDbDriver[260] = "";
char g_szDbDrvParams[260] = "";
char g_szDbServer[260] = "";
char g_szDbName[256] = "";
char g_szDbLogin[64] = "";
char g_szDbPassword[64] = "";

struct KvConnection
{
   const KvDriverApi *driver;
   void *native;
   bool lost;
};

namespace {

void (*lostHandler)(const char *error) = nullptr;

void NoDriver(char *error)
{
   snprintf(error, KV_DRIVER_ERROR_SIZE, "no database driver loaded");
}

// Drivers write their error text into a buffer of this size; make sure a
// misbehaving driver can never leave it unterminated.
void Terminate(char *error)
{
   error[KV_DRIVER_ERROR_SIZE - 1] = 0;
}

// After a failed call: when the driver says the connection is gone, marks it
// lost and hands the error to the handler (once). Returns false, the failed
// call's result.
bool Failed(db_handle_t handle, char *error)
{
   Terminate(error);
   if (!handle->lost && handle->driver->connectionLost(handle->native))
   {
      handle->lost = true;
      if (lostHandler != nullptr)
         lostHandler(error);
   }
   return false;
}

}  // namespace

db_handle_t DBConnect()
{
   const KvDriverApi *driver = KvLoadedDriver();
   if (driver == nullptr)
      return nullptr;
   KvDriverConnectParams params = {g_szDbServer, g_szDbName, g_szDbLogin, g_szDbPassword, g_szDbDrvParams};
   char error[KV_DRIVER_ERROR_SIZE] = "";
   void *native = driver->connect(&params, error);
   if (native == nullptr)
   {
      Terminate(error);
      fprintf(stderr, "%s\n", error[0] != 0 ? error : "connection failed");
      return nullptr;
   }
   return new KvConnection{driver, native, false};
}

void DBSetConnectionLostHandler(void (*handler)(const char *error))
{
   lostHandler = handler;
}

bool DBConnectionLost(db_handle_t handle)
{
   return handle != nullptr && handle->lost;
}

void DBDisconnect(db_handle_t handle)
{
   if (handle == nullptr)
      return;
   handle->driver->disconnect(handle->native);
   delete handle;
}

DB_RESULT DBSelectEx(db_handle_t handle, const char *query, char *error)
{
   error[0] = 0;
   if (handle == nullptr)
   {
      NoDriver(error);
      return nullptr;
   }
   DB_RESULT result = KvNewResult();
   if (result == nullptr)
   {
      snprintf(error, KV_DRIVER_ERROR_SIZE, "out of memory");
      return nullptr;
   }
   if (!handle->driver->select(handle->native, query, KvResultAddRow, result, error))
   {
      DBFreeResult(result);
      Failed(handle, error);
      return nullptr;
   }
   return result;
}

DB_RESULT DBSelect(db_handle_t handle, const char *query)
{
   char error[KV_DRIVER_ERROR_SIZE];
   return DBSelectEx(handle, query, error);
}

bool DBQueryEx(db_handle_t handle, const char *statement, char *error)
{
   error[0] = 0;
   if (handle == nullptr)
   {
      NoDriver(error);
      return false;
   }
   if (handle->driver->execute(handle->native, statement, error))
      return true;
   return Failed(handle, error);
}

bool DBQuery(db_handle_t handle, const char *statement)
{
   char error[KV_DRIVER_ERROR_SIZE];
   return DBQueryEx(handle, statement, error);
}

namespace {

// Runs one of the transaction calls of the driver; on failure leaves its error
// text in |error| (never empty, so a report always says something).
bool TransactionCall(db_handle_t handle, int (*KvDriverApi::*call)(void *, char *), char *error)
{
   error[0] = 0;
   if (handle == nullptr)
   {
      NoDriver(error);
      return false;
   }
   if ((handle->driver->*call)(handle->native, error))
      return true;
   if (error[0] == 0)
      snprintf(error, KV_DRIVER_ERROR_SIZE, "unknown error");
   return Failed(handle, error);
}

}  // namespace

bool DBBeginEx(db_handle_t handle, char *error)
{
   return TransactionCall(handle, &KvDriverApi::begin, error);
}

bool DBCommitEx(db_handle_t handle, char *error)
{
   return TransactionCall(handle, &KvDriverApi::commit, error);
}

bool DBRollbackEx(db_handle_t handle, char *error)
{
   return TransactionCall(handle, &KvDriverApi::rollback, error);
}

bool DBBegin(db_handle_t handle)
{
   char error[KV_DRIVER_ERROR_SIZE];
   return DBBeginEx(handle, error);
}

bool DBCommit(db_handle_t handle)
{
   char error[KV_DRIVER_ERROR_SIZE];
   return DBCommitEx(handle, error);
}

bool DBRollback(db_handle_t handle)
{
   char error[KV_DRIVER_ERROR_SIZE];
   return DBRollbackEx(handle, error);
}
