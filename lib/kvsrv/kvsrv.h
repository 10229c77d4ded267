// The database driver library: loads a driver module, runs statements and
// selects through it, keeps select results in memory, and converts the
// stored-text form of values.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef struct KvConnection *db_handle_t;
typedef struct KvResult *DB_RESULT;

// Connection parameters, filled by the configuration loader.
extern char g_szDbDriver[260];
extern char g_szDbDrvParams[260];
extern char g_szDbServer[260];
extern char g_szDbName[256];
extern char g_szDbLogin[64];
extern char g_szDbPassword[64];

// Loads the driver module named by g_szDbDriver. Returns true on success; on
// failure prints to stderr every path it tried and why. The arguments are kept
// for compatibility (always 0, 0, 0, nullptr).
bool DBInit(int reserved1, int reserved2, int reserved3, void (*callback)(uint32_t, const char *));

// Opens a connection with the connection parameters, or returns nullptr after
// printing the driver's error text to stderr.
db_handle_t DBConnect();
void DBDisconnect(db_handle_t handle);

// Sets the function called, once per connection, when a call fails because
// the driver reports the connection to the server gone; it gets the driver's
// error text. Until it is set (nullptr), a lost connection is only marked.
void DBSetConnectionLostHandler(void (*handler)(const char *error));
// True when a call on |handle| failed because the connection was gone.
bool DBConnectionLost(db_handle_t handle);
void DBUnloadDriver();
// The loaded driver's name ("sqlite", "pgsql", ...), or "" when none is loaded.
const char *DBDriverName();

// Runs a select and returns a result holding all rows, or nullptr on failure.
// The result stays readable whatever happens to the tables afterwards.
DB_RESULT DBSelect(db_handle_t handle, const char *query);
// Same, and on failure leaves the driver's error text in |error| (1024 bytes).
DB_RESULT DBSelectEx(db_handle_t handle, const char *query, char *error);

// Runs a statement; true on success.
bool DBQuery(db_handle_t handle, const char *statement);
// Same, and on failure leaves the driver's error text in |error| (1024 bytes).
bool DBQueryEx(db_handle_t handle, const char *statement, char *error);

int DBGetNumRows(DB_RESULT result);
int DBGetNumColumns(DB_RESULT result);
// Copies the field (an empty text for NULL or out-of-range positions) into
// |buffer|, cut to size-1 bytes and always zero-terminated; returns |buffer|.
char *DBGetField(DB_RESULT result, int row, int column, char *buffer, int size);
// The field's text without copying (never null); valid until DBFreeResult.
const char *DBGetFieldText(DB_RESULT result, int row, int column);
int32_t DBGetFieldLong(DB_RESULT result, int row, int column);
// Reads decimal text as unsigned 32 bits; a negative text wraps ("-1" is 0xFFFFFFFF).
uint32_t DBGetFieldULong(DB_RESULT result, int row, int column);
// Reads a dotted IPv4 text as a number in host order; 0 when the text is not one.
uint32_t DBGetFieldIPAddr(DB_RESULT result, int row, int column);
void DBFreeResult(DB_RESULT result);

bool DBBegin(db_handle_t handle);
bool DBCommit(db_handle_t handle);
bool DBRollback(db_handle_t handle);
// Same, and on failure leave the driver's error text in |error| (1024 bytes).
bool DBBeginEx(db_handle_t handle, char *error);
bool DBCommitEx(db_handle_t handle, char *error);
bool DBRollbackEx(db_handle_t handle, char *error);

// Returns a malloc'ed stored-text form of |text|; the caller frees it.
char *EncodeSQLString(const char *text);
// Decodes the stored-text form in place; a malformed escape is left as it stands.
void DecodeSQLString(char *text);
