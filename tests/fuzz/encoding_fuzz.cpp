// Fuzzes the stored-text form: any text encodes to characters that are safe
// between single quotes in every dialect and decodes back to itself, and
// decoding arbitrary bytes never grows the text or faults.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/kvsrv/kvsrv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::string raw(reinterpret_cast<const char *>(data), size);

   // Round trip of the text up to its first zero byte.
   std::string text = raw.c_str();
   char *encoded = EncodeSQLString(text.c_str());
   if (encoded == nullptr)
      abort();
   for (const unsigned char *p = (const unsigned char *)encoded; *p != 0; p++)
      if (*p < 0x20 || *p == 0x7F || *p == '\'' || *p == '"' || *p == '\\' || *p == '%')
         abort();  // a character that could end or bend the quoted value
   DecodeSQLString(encoded);
   if (text != encoded)
      abort();
   free(encoded);

   // Decoding whatever is stored: in place, never longer, always terminated.
   std::string stored = raw.c_str();
   std::string buffer = stored;
   DecodeSQLString(&buffer[0]);
   if (strlen(buffer.c_str()) > stored.size())
      abort();
   return 0;
}
