// Whole-file reads.
#include "lib/korvel/korvel.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

char *LoadFile(const char *path, uint32_t *size)
{
   // Not waiting for a writer at open, and looking at the file before reading
   // it: a FIFO would block and a device could be read forever.
   int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
   if (fd < 0)
      return nullptr;
   struct stat st;
   bool usable = fstat(fd, &st) == 0;
   if (usable && !S_ISREG(st.st_mode))
   {
      fprintf(stderr, "%s: not a regular file\n", path);
      usable = false;
   }
   if (!usable || (uint64_t)st.st_size > UINT32_MAX - 1)
   {
      close(fd);
      return nullptr;
   }
   FILE *f = fdopen(fd, "rb");
   if (f == nullptr)
   {
      close(fd);
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
