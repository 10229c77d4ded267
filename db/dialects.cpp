// The connected dialect's facts.
#include "db/dialects.h"

#include <string.h>

#include "db/settings.h"

const DialectRow &CurrentDialect()
{
   return Dialects[g_nSyntax];
}

int FindDialect(const char *name)
{
   for (int i = 0; i < (int)(sizeof(Dialects) / sizeof(Dialects[0])); i++)
      if (strcmp(Dialects[i].name, name) == 0)
         return i;
   return -1;
}

std::string DropIndexStatement(const char *index, const char *table)
{
   switch (CurrentDialect().dropIndex)
   {
      case DROP_INDEX_ON_TABLE:
         return std::string("DROP INDEX ") + index + " ON " + table;
      case DROP_INDEX_QUALIFIED:
         return std::string("DROP INDEX ") + table + "." + index;
      case DROP_INDEX_PLAIN:
         break;
   }
   return std::string("DROP INDEX ") + index;
}

std::string IndexName(const char *table, const char *suffix, const char *plainName)
{
   if (CurrentDialect().indexNamesPerSchema)
      return std::string("idx_") + table + "_" + suffix;
   return plainName;
}
