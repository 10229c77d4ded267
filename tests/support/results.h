// A driver's results as text, for tests that call a driver module directly.
#pragma once

#include <string>
#include <vector>

#include "lib/kvsrv/kvsrv.h"

// Each row of |result| as one line, its fields as text joined by "|".
inline std::vector<std::string> ResultLines(DB_RESULT result)
{
   std::vector<std::string> lines;
   for (int row = 0; row < DBGetNumRows(result); row++)
   {
      std::string line;
      for (int column = 0; column < DBGetNumColumns(result); column++)
         line += (column > 0 ? "|" : "") + std::string(DBGetFieldText(result, row, column));
      lines.push_back(line);
   }
   return lines;
}

// The rows |query| selects on |handle| as ResultLines, or one line
// "<failed: error>" with the driver's error text.
inline std::vector<std::string> SelectLines(db_handle_t handle, const std::string &query)
{
   char error[1024];
   DB_RESULT result = DBSelectEx(handle, query.c_str(), error);
   if (result == nullptr)
      return {std::string("<failed: ") + error + ">"};
   std::vector<std::string> lines = ResultLines(result);
   DBFreeResult(result);
   return lines;
}
