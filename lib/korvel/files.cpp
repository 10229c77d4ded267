// Whole-file reads.
#include "lib/korvel/korvel.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

char *LoadFile(const char *path, uint32_t *size)
{
   FILE *f = fopen(path, "rb");
   if (f == nullptr)
      return nullptr;
   struct stat st;
   if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || (uint64_t)st.st_size > UINT32_MAX - 1)
   {
      fclose(f);
      return nullptr;
   }
   size_t length = (size_t)st.st_size;
   char *buffer = (char *)malloc(length + 1);
   if (buffer == nullptr)
   {
      fclose(f);
      return nullptr;
   }
   size_t got = length > 0 ? fread(buffer, 1, length, f) : 0;
   bool failed = (got != length) || ferror(f);
   fclose(f);
   if (failed)
   {
      free(buffer);
      return nullptr;
   }
   buffer[length] = 0;
   *size = (uint32_t)length;
   return buffer;
}
