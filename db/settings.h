// The process-wide settings: written by the front end while it starts, read
// everywhere else.
#pragma once

#include "lib/kvsrv/kvsrv.h"

// SQL dialects, as the DBSyntax variable names them.
enum DatabaseSyntax
{
   DB_SYNTAX_MYSQL = 0,
   DB_SYNTAX_PGSQL = 1,
   DB_SYNTAX_MSSQL = 2,
   DB_SYNTAX_ORACLE = 3,
   DB_SYNTAX_SQLITE = 4
};

// The schema format version this tool is built for.
const int TargetFormatVersion = 83;

extern db_handle_t g_hConnection;    // the open connection, null until connected
extern int g_nSyntax;                // detected dialect; 0 until detected, never detected for init
extern bool g_bSkipErrors;           // -X
extern bool g_bShowQueries;          // -t
extern bool g_bAutoConfirm;          // -f
extern bool g_bDryRun;               // --dry-run: upgrade, then undo everything
extern bool g_bJsonOutput;           // --json: status as one JSON document
extern const char *g_pszTableType;   // MySQL table type suffix: "", " ENGINE=InnoDB" or " ENGINE=MyISAM"
