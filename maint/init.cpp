// Placeholder until the command is built.
#include "maint/init.h"

#include <stdio.h>

bool RunInitCommand(const char *)
{
   printf("This command is not available yet\n");
   return false;
}
