// Database initialisation from a schema file.
#pragma once

// Runs the schema file as a batch file, then gives user 0 and user group
// 0x80000000 fresh GUIDs. Returns false (after "Database initialization
// failed") when the file or an update fails.
bool RunInitCommand(const char *path);
