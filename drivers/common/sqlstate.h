// The SQLSTATE classes that say a connection is gone.
#pragma once

#include <string.h>

// True for the SQLSTATEs with which a data source reports that the connection
// to its server no longer exists: 08S01 (communication link failure), 08003
// (connection does not exist) and 08007 (connection failure during the
// transaction, which was therefore not committed).
inline bool IsConnectionLostState(const char *state)
{
   static const char *const kLost[] = {"08S01", "08003", "08007"};
   for (const char *lost : kLost)
      if (strncmp(state, lost, 5) == 0)
         return true;
   return false;
}
