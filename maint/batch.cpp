// Placeholder until the command is built.
#include "maint/batch.h"

#include <stdio.h>

bool RunBatchFile(const char *)
{
   printf("This command is not available yet\n");
   return false;
}
