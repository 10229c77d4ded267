// The database lock that a running server keeps in the config table, and the
// forced unlock.
#pragma once

#include <stddef.h>

// The statement that clears the lock by force (check and unlock).
extern const char *const FORCED_UNLOCK_STATEMENT;

// Reads DBLockStatus and DBLockInfo. Returns true when the status row exists
// and its decoded value is not exactly "UNLOCKED". |owner| (256 bytes) gets the
// decoded status whenever the row exists; |info| (256 bytes) gets the decoded
// info text only when locked, and is empty when that row is missing. A failed
// select counts as not locked and prints nothing.
bool ReadLockState(char *owner, char *info);

// The reduced test of upgrade: locked when the status row exists and its
// stored, undecoded value is not "UNLOCKED".
bool IsDatabaseLocked();

// The unlock command. Returns false only when the lock could not be cleared
// (the statement failed); "not locked" and a declined question are successes.
bool RunUnlockCommand();
