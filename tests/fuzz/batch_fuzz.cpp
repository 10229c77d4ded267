// Fuzzes the batch file splitter the way the batch command walks a file: every
// step moves forward, each statement ends at a ';' outside quotes or at the
// end of the data, it is terminated there and its text is kept whole, and no
// byte outside the buffer is read or written.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "maint/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // As LoadFile gives it: the bytes and one zero byte after them.
   std::vector<char> buffer(data, data + size);
   buffer.push_back(0);
   char *start = buffer.data();
   char *end = start + size;
   for (char *position = start; position < end;)
   {
      char *stop = StatementEnd(position, end);
      if (stop < position || stop > end || (stop < end && *stop != ';'))
         abort();
      int quotes = 0;
      for (char *p = position; p < stop; p++)
      {
         if (*p == '\'')
            quotes++;
         else if (*p == ';' && quotes % 2 == 0)
            abort();  // an earlier ';' outside quotes should have ended it
      }
      bool holdsZero = memchr(position, 0, (size_t)(stop - position)) != nullptr;
      char *next = NextStatement(position, end);
      if (next <= position || *stop != 0)
         abort();
      if (!holdsZero && strlen(position) != (size_t)(stop - position))
         abort();  // the statement lost characters, or ran past its end
      IsBlankStatement(position);
      position = next;
   }
   return 0;
}
