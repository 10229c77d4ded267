// Where the server's configuration file is when the command line does not
// say: one implementation per platform.
#pragma once

#include <stddef.h>

// Looks for the configuration file path outside the command line: the
// KORVELD_CONFIG environment variable, else /etc/korveld.conf when it exists.
// Returns true and fills |path| (cut to size-1 bytes) when one was found.
bool LookupConfigPath(char *path, size_t size);
