// The binary interface between the driver library and a loadable driver module.
// This header is the only part of the tool that a driver includes.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KV_DRIVER_ABI_VERSION 2
#define KV_DRIVER_ERROR_SIZE 1024
#define KV_DRIVER_ENTRY_NAME "KvDriverEntry"

// Receives the rows of a select. The driver calls it once per row with the
// row's fields; a null value pointer is an SQL NULL. Returns 0 when the row
// could not be stored (out of memory); the driver then stops and fails.
typedef int (*KvRowSink)(void *sink, int columns, const char *const *values, const size_t *lengths);

typedef struct KvDriverConnectParams
{
   const char *server;     // "host", "host:port", a socket path or a DSN; may be empty
   const char *database;
   const char *login;
   const char *password;
   const char *params;     // driver-specific extra options (DBDrvParams)
} KvDriverConnectParams;

// Every function that can fail returns nonzero on success and, on failure,
// leaves the engine's own error text in |error| (KV_DRIVER_ERROR_SIZE bytes).
typedef struct KvDriverApi
{
   int abiVersion;  // KV_DRIVER_ABI_VERSION
   const char *name;
   void *(*connect)(const KvDriverConnectParams *params, char *error);
   void (*disconnect)(void *connection);
   int (*execute)(void *connection, const char *statement, char *error);
   int (*select)(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error);
   int (*begin)(void *connection, char *error);
   int (*commit)(void *connection, char *error);
   int (*rollback)(void *connection, char *error);
   // Called after a call on |connection| failed: nonzero when that failure
   // means the connection to the server is gone (the server closed it, it was
   // killed, the network dropped it), so that nothing more can be done on it.
   int (*connectionLost)(void *connection);
} KvDriverApi;

// The one symbol every driver module exports.
typedef const KvDriverApi *(*KvDriverEntryFunction)(void);

#ifdef __cplusplus
}
#endif
