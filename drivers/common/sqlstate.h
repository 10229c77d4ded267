// The SQLSTATE classes that say a connection is gone.
#pragma once

#include <string.h>

// True for the SQLSTATEs with which a data source reports that the connection
// to its server no longer exists: 08S01 (communication link failure), 08003
// (connection does not exist) and 08007 (connection failure during the
// transaction, which was therefore not committed); and the server's own states
// passed on by PostgreSQL's ODBC driver when it ends the session, 57P01 (ended
// by an administrator) and 57P02 (server crash). A cancelled query (57014)
// keeps its connection and is not among them.
inline bool IsConnectionLostState(const char *state)
{
   static const char *const kLost[] = {"08S01", "08003", "08007", "57P01", "57P02"};
   for (const char *lost : kLost)
      if (strncmp(state, lost, 5) == 0)
         return true;
   return false;
}
