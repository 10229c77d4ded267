// In-place text helpers.
#include "lib/korvel/korvel.h"

#include <string.h>

bool TranslateStr(char *text, const char *macro, const char *replacement)
{
   size_t macroLength = strlen(macro);
   size_t replacementLength = strlen(replacement);
   if (macroLength == 0 || replacementLength > macroLength)
      return false;
   char *out = text;
   const char *in = text;
   while (*in != 0)
   {
      if (strncmp(in, macro, macroLength) == 0)
      {
         memmove(out, replacement, replacementLength);
         out += replacementLength;
         in += macroLength;
      }
      else
      {
         *out++ = *in++;
      }
   }
   *out = 0;
   return true;
}
