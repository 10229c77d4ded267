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
// and cut to fit; the buffer is left alone unless the row was found.
ConfigRead ReadLockVariable(const char *name, char *buffer)
{
   std::string stored;
   ConfigRead read = ReadConfigQuietly(name, &stored);
   if (read == CONFIG_FOUND)
      snprintf(buffer, kLockTextSize, "%s", stored.c_str());
   return read;
}

}  // namespace

ConfigRead ReadLockFacts(char *owner, char *info, bool *locked)
{
   info[0] = 0;
   *locked = false;
   ConfigRead status = ReadLockVariable("DBLockStatus", owner);
   if (status != CONFIG_FOUND)
      return status;
   DecodeSQLString(owner);
   if (strcmp(owner, "UNLOCKED") == 0)
      return status;
   *locked = true;
   ConfigRead read = ReadLockVariable("DBLockInfo", info);
   if (read == CONFIG_FOUND)
      DecodeSQLString(info);
   return read == CONFIG_READ_FAILED ? CONFIG_READ_FAILED : CONFIG_FOUND;
}

bool ReadLockState(char *owner, char *info)
{
   bool locked;
   ReadLockFacts(owner, info, &locked);
   return locked;
}

bool IsDatabaseLocked()
{
   char status[kLockTextSize];
   if (ReadLockVariable("DBLockStatus", status) != CONFIG_FOUND)
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
