// Random (version 4) UUIDs.
#include "lib/korvel/korvel.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/random.h>

void uuid_generate(uuid_t uuid)
{
   size_t filled = 0;
   while (filled < 16)
   {
      ssize_t n = getrandom(uuid + filled, 16 - filled, 0);
      if (n < 0)
      {
         if (errno == EINTR)
            continue;
         // A GUID that is not random would collide across databases; better to stop.
         perror("getrandom");
         abort();
      }
      filled += (size_t)n;
   }
   uuid[6] = (unsigned char)((uuid[6] & 0x0F) | 0x40);  // version 4
   uuid[8] = (unsigned char)((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

char *uuid_to_string(const uuid_t uuid, char *buffer)
{
   static const char hex[] = "0123456789abcdef";
   char *p = buffer;
   for (int i = 0; i < 16; i++)
   {
      if (i == 4 || i == 6 || i == 8 || i == 10)
         *p++ = '-';
      *p++ = hex[uuid[i] >> 4];
      *p++ = hex[uuid[i] & 0x0F];
   }
   *p = 0;
   return buffer;
}
