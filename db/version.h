// The schema format version stored in the config table, and the gate that
// lets check and reindex run only on the format this tool is built for.
#pragma once

#include "db/config_vars.h"

// Reads DBFormatVersion quietly (ReadConfigQuietly). Returns the stored
// number, or 0 when the select fails or the variable is missing.
int ReadFormatVersion();

// The same into |version| (0 unless found), telling a missing variable from a
// failed read.
ConfigRead ReadStoredFormatVersion(int *version);

// Prints why a database of |version| cannot be checked or reindexed and
// returns false, or returns true silently when |version| is TargetFormatVersion.
bool PassFormatVersionGate(int version);
