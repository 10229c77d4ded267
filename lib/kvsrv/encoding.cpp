// The stored-text form: "#" and two upper-case hex digits for special characters.
#include "lib/kvsrv/kvsrv.h"

#include <stdlib.h>
#include <string.h>

namespace {

bool NeedsEscape(unsigned char c)
{
   return c < 0x20 || c == 0x7F || c == '#' || c == '\'' || c == '"' || c == '%' || c == '\\';
}

int HexValue(char c)
{
   if (c >= '0' && c <= '9')
      return c - '0';
   if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
   if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
   return -1;
}

}  // namespace

char *EncodeSQLString(const char *text)
{
   static const char hex[] = "0123456789ABCDEF";
   if (text == nullptr || *text == 0)
      return strdup("#00");
   size_t length = 0;
   for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++)
      length += NeedsEscape(*p) ? 3 : 1;
   char *out = (char *)malloc(length + 1);
   if (out == nullptr)
      return nullptr;
   char *q = out;
   for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++)
   {
      if (NeedsEscape(*p))
      {
         *q++ = '#';
         *q++ = hex[*p >> 4];
         *q++ = hex[*p & 0x0F];
      }
      else
      {
         *q++ = (char)*p;
      }
   }
   *q = 0;
   return out;
}

void DecodeSQLString(char *text)
{
   if (text == nullptr)
      return;
   char *out = text;
   const char *in = text;
   while (*in != 0)
   {
      if (*in == '#')
      {
         int hi = HexValue(in[1]);
         int lo = (hi >= 0) ? HexValue(in[2]) : -1;
         if (hi >= 0 && lo >= 0)
         {
            // "#00" is the stored form of the empty text; a zero byte ends the text.
            *out++ = (char)(hi * 16 + lo);
            in += 3;
            if (hi == 0 && lo == 0)
               break;
            continue;
         }
      }
      *out++ = *in++;
   }
   *out = 0;
}
