// Placeholder until the command is built.
#include "check/check.h"

#include <stdio.h>

bool RunCheckCommand()
{
   printf("This command is not available yet\n");
   return false;
}
