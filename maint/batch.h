// Runs an SQL batch file of ';'-terminated statements.
#pragma once

// Returns true when the command did its work; false when it failed or was refused.
bool RunBatchFile(const char *path);
