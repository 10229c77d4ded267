// Fuzzes the configuration loader with whole files: whatever the bytes, it
// must return without a fault, and every value it stored must fit its buffer
// with its terminating zero.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "lib/korvel/korvel.h"

namespace {

char s_short[8];
char s_long[260];

const ConfigTemplateEntry kTemplate[] = {
   {"DBName", CT_STRING, 0, 0, sizeof(s_short), 0, s_short},
   {"DBServer", CT_STRING, 0, 0, sizeof(s_long), 0, s_long},
   {"LogFile", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"", CT_END_OF_LIST, 0, 0, 0, 0, nullptr}};

// One file per process, rewritten for every input; in memory where the
// system offers a memory file system, so that the disk does not set the pace.
const char *ScratchPath()
{
   static char path[64] = "";
   if (path[0] == 0)
   {
      int fd = -1;
      static const char *const kDirs[] = {"/dev/shm", "/tmp"};
      for (const char *dir : kDirs)
      {
         snprintf(path, sizeof(path), "%s/kv_fuzz_config_XXXXXX", dir);
         if ((fd = mkstemp(path)) >= 0)
            break;
      }
      if (fd < 0)
         abort();
      close(fd);
      atexit([] { unlink(path); });
   }
   return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const char *path = ScratchPath();
   FILE *f = fopen(path, "wb");
   if (f == nullptr)
      abort();
   if (size > 0 && fwrite(data, 1, size, f) != size)
      abort();
   fclose(f);

   memset(s_short, 'x', sizeof(s_short));
   s_short[sizeof(s_short) - 1] = 0;
   memset(s_long, 'y', sizeof(s_long));
   s_long[sizeof(s_long) - 1] = 0;
   KvLoadConfig(path, "", kTemplate, 1);
   if (memchr(s_short, 0, sizeof(s_short)) == nullptr || memchr(s_long, 0, sizeof(s_long)) == nullptr)
      abort();  // a value was stored without room for its terminator
   return 0;
}
