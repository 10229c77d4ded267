// Format version of the stored schema.
#include "db/version.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "db/config_vars.h"
#include "db/settings.h"

ConfigRead ReadStoredFormatVersion(int *version)
{
   // Read as the driver library reads a number field: the undecoded text, in decimal.
   std::string stored;
   ConfigRead read = ReadConfigQuietly("DBFormatVersion", &stored);
   *version = read == CONFIG_FOUND ? (int32_t)strtol(stored.c_str(), nullptr, 10) : 0;
   return read;
}

int ReadFormatVersion()
{
   int version;
   ReadStoredFormatVersion(&version);
   return version;
}

bool PassFormatVersionGate(int version)
{
   if (version == TargetFormatVersion)
      return true;
   printf("Your database has format version %d, this tool is compiled for version %d.\n", version, TargetFormatVersion);
   if (version < TargetFormatVersion)
      printf("Use \"upgrade\" command to upgrade your database first.\n");
   else
      printf("You need to upgrade your server before using this database.\n");
   return false;
}
