// POSIX configuration-path lookup: with no registry, the environment and /etc.
#include "lib/platform/config_path.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

bool LookupConfigPath(char *path, size_t size)
{
   const char *env = getenv("KORVELD_CONFIG");
   const char *found = nullptr;
   if (env != nullptr && *env != 0)
      found = env;
   else if (access("/etc/korveld.conf", F_OK) == 0)
      found = "/etc/korveld.conf";
   if (found == nullptr || size == 0)
      return false;
   snprintf(path, size, "%s", found);
   return true;
}
