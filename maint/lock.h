// The database lock that a running server keeps in the config table, and the
// forced unlock.
#pragma once

#include <stddef.h>

#include "db/config_vars.h"

// Reads DBLockStatus and DBLockInfo. Returns true when the status row exists
// and its decoded value is not exactly "UNLOCKED". |owner| (256 bytes) gets the
// decoded status whenever the row exists; |info| (256 bytes) gets the decoded
// info text only when locked, and is empty when that row is missing. A failed
// select counts as not locked and prints nothing.
bool ReadLockState(char *owner, char *info);

// The same, and tells how the reads went: CONFIG_READ_FAILED when either
// select failed, CONFIG_MISSING when there is no status row (a format before
// the lock existed: no lock), else CONFIG_FOUND. |locked| gets what
// ReadLockState returns.
ConfigRead ReadLockFacts(char *owner, char *info, bool *locked);

// The reduced test of upgrade: locked when the status row exists and its
// stored, undecoded value is not "UNLOCKED".
bool IsDatabaseLocked();

// What OfferForcedUnlock came to.
enum UnlockOutcome
{
   UNLOCK_NOT_LOCKED,  // nothing to clear; nothing printed
   UNLOCK_DECLINED,    // the operator answered no
   UNLOCK_FAILED,      // the statement failed (and was reported)
   UNLOCK_REMOVED      // the lock is gone ("Database lock removed")
};

// When the database is locked: shows who holds the lock, asks whether to
// clear it and, on yes, sets DBLockStatus to UNLOCKED.
UnlockOutcome OfferForcedUnlock();

// The unlock command. Returns false only when the lock could not be cleared
// (the statement failed); "not locked" and a declined question are successes.
bool RunUnlockCommand();
