// Format version of the stored schema.
#include "db/version.h"

#include <stdio.h>

#include "db/settings.h"

int ReadFormatVersion()
{
   DB_RESULT result = DBSelect(g_hConnection, "SELECT var_value FROM config WHERE var_name='DBFormatVersion'");
   if (result == nullptr)
      return 0;
   int version = DBGetNumRows(result) > 0 ? DBGetFieldLong(result, 0, 0) : 0;
   DBFreeResult(result);
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
