// Benchmark program for scripts/bench-drivers: one DBSelect through a driver
// module, then every field read, with the time taken and the peak memory.
//
//   kv_select_bench <driver> <server> <database> <login> <password> <query>
//
// Prints one line: "rows=N fields_bytes=B select_s=S read_s=R maxrss_kb=K".
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "lib/kvsrv/kvsrv.h"

namespace {

double Now()
{
   timespec t;
   clock_gettime(CLOCK_MONOTONIC, &t);
   return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void Copy(char *target, size_t size, const char *value)
{
   snprintf(target, size, "%s", value);
}

}  // namespace

int main(int argc, char **argv)
{
   if (argc != 7)
   {
      fprintf(stderr, "usage: %s <driver> <server> <database> <login> <password> <query>\n", argv[0]);
      return 2;
   }
   Copy(g_szDbDriver, sizeof(g_szDbDriver), argv[1]);
   Copy(g_szDbServer, sizeof(g_szDbServer), argv[2]);
   Copy(g_szDbName, sizeof(g_szDbName), argv[3]);
   Copy(g_szDbLogin, sizeof(g_szDbLogin), argv[4]);
   Copy(g_szDbPassword, sizeof(g_szDbPassword), argv[5]);
   if (!DBInit(0, 0, 0, nullptr))
      return 1;
   db_handle_t h = DBConnect();
   if (h == nullptr)
      return 1;
   double start = Now();
   char error[1024];
   DB_RESULT r = DBSelectEx(h, argv[6], error);
   if (r == nullptr)
   {
      fprintf(stderr, "select failed: %s\n", error);
      return 1;
   }
   double selected = Now();
   int rows = DBGetNumRows(r);
   int columns = DBGetNumColumns(r);
   unsigned long long bytes = 0;
   for (int i = 0; i < rows; i++)
      for (int c = 0; c < columns; c++)
         bytes += strlen(DBGetFieldText(r, i, c));
   double read = Now();
   rusage usage;
   getrusage(RUSAGE_SELF, &usage);
   printf("rows=%d fields_bytes=%llu select_s=%.3f read_s=%.3f maxrss_kb=%ld\n", rows, bytes, selected - start,
          read - selected, usage.ru_maxrss);
   DBFreeResult(r);
   DBDisconnect(h);
   DBUnloadDriver();
   return 0;
}
