// Placeholder until the command is built.
#include "upgrade/upgrade.h"

#include <stdio.h>

bool RunUpgradeCommand()
{
   printf("This command is not available yet\n");
   return false;
}
