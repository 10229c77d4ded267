// Storage of the process-wide settings.
#include "db/settings.h"

db_handle_t g_hConnection = nullptr;
int g_nSyntax = DB_SYNTAX_MYSQL;
bool g_bSkipErrors = false;
bool g_bShowQueries = false;
bool g_bAutoConfirm = false;
bool g_bDryRun = false;
bool g_bJsonOutput = false;
const char *g_pszTableType = "";
