// The entry point of kvdbmgr: options, configuration, connection, dialect
// detection and dispatch to one command.
#pragma once

// Exit codes of the tool: what KvdbmgrMain returns.
enum ExitCode
{
   EXIT_DONE = 0,             // the command ran and did its work
   EXIT_USAGE = 1,            // -h, -v, bad options, missing or unknown command
   EXIT_CONFIG = 2,           // the configuration file failed to load
   EXIT_DRIVER = 3,           // the driver failed to load
   EXIT_CONNECT = 4,          // the connection failed
   EXIT_SYNTAX_QUERY = 5,     // the DBSyntax query failed
   EXIT_UNKNOWN_SYNTAX = 6,   // DBSyntax missing or unknown
   EXIT_COMMAND_FAILED = 7    // the command ran but failed or was refused
};

// Runs the tool with the given command line and returns the exit code.
int KvdbmgrMain(int argc, char *argv[]);
