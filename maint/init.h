// Fills an empty database from a schema file and gives the built-in user and group fresh GUIDs.
#pragma once

// Returns true when the command did its work; false when it failed or was refused.
bool RunInitCommand(const char *path);
