// Placeholder until the command is built.
#include "maint/reindex.h"

#include <stdio.h>

bool RunReindexCommand()
{
   printf("This command is not available yet\n");
   return false;
}
