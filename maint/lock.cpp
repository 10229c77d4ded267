// Database lock and forced unlock.
#include "maint/lock.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "db/config_vars.h"
#include "db/statements.h"

namespace {

// The statement that clears the lock by force (unlock, and check through OfferForcedUnlock).
const char kForcedUnlockStatement[] = "UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'";

const int kLockTextSize = 256;

// Reads the variable quietly into |buffer| (kLockTextSize bytes), undecoded
// and cut to fit. Returns false when the select fails or finds no row.
bool ReadLockVariable(const char *name, char *buffer)
{
   std::string stored;
   if (ReadConfigQuietly(name, &stored) != CONFIG_FOUND)
      return false;
   snprintf(buffer, kLockTextSize, "%s", stored.c_str());
   return true;
}

}  // namespace

bool ReadLockState(char *owner, char *info)
{
   info[0] = 0;
   if (!ReadLockVariable("DBLockStatus", owner))
      return false;
   DecodeSQLString(owner);
   if (strcmp(owner, "UNLOCKED") == 0)
      return false;
   if (ReadLockVariable("DBLockInfo", info))
      DecodeSQLString(info);
   else
      info[0] = 0;
   return true;
}

bool IsDatabaseLocked()
{
   char status[kLockTextSize];
   if (!ReadLockVariable("DBLockStatus", status))
      return false;
   return strcmp(status, "UNLOCKED") != 0;
}

UnlockOutcome OfferForcedUnlock()
{
   char owner[kLockTextSize] = "", info[kLockTextSize] = "";
   if (!ReadLockState(owner, info))
      return UNLOCK_NOT_LOCKED;
   printf("Database is locked by server %s [%s]\nDo you wish to force database unlock? (Y/N) ", Printable(owner).c_str(),
          Printable(info).c_str());
   if (!AskYesNo())
      return UNLOCK_DECLINED;
   if (!ExecStatement(kForcedUnlockStatement))
      return UNLOCK_FAILED;
   printf("Database lock removed\n");
   return UNLOCK_REMOVED;
}

bool RunUnlockCommand()
{
   UnlockOutcome outcome = OfferForcedUnlock();
   if (outcome == UNLOCK_NOT_LOCKED)
      printf("Database is not locked\n");
   return outcome != UNLOCK_FAILED;
}
