// The status command: where the database stands, read without changing
// anything (no transaction, no lock, no question).
#pragma once

// Sends everything the run prints to standard error from now on, and keeps
// standard output for the one JSON document of RunStatusCommand, so that a
// script reading standard output gets that document and nothing else.
void DivertOutputForJson();

// Prints the driver and dialect, the format version and the tool's target,
// the upgrade steps pending, and the lock state: one fact a line, or one JSON
// document under --json. Returns true when every fact could be read.
bool RunStatusCommand();
