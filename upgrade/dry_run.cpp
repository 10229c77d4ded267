// The upgrade's dry run.
#include "upgrade/dry_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db/dialects.h"
#include "db/settings.h"
#include "db/statements.h"
#include "lib/kvsrv/kvsrv.h"
#include "upgrade/upgrade.h"

namespace {

const char kCopyMark[] = ".dry-run-";
// SQLite keeps a database's journal, WAL and shared-memory index beside it.
const char *const kCompanions[] = {"", "-journal", "-wal", "-shm"};
const int kCompanionCount = 4;

// The copy and its companions, kept in fixed buffers so that the signal
// handler can remove them without allocating.
char copyPaths[kCompanionCount][300];
bool haveCopy = false;

void RemoveCopyFiles()
{
   if (!haveCopy)
      return;
   for (int i = 0; i < kCompanionCount; i++)
      unlink(copyPaths[i]);
   haveCopy = false;
}

void RemoveCopyOnSignal(int sig)
{
   RemoveCopyFiles();
   signal(sig, SIG_DFL);
   raise(sig);
}

// Copies |from| to |to|, which must not exist yet. Returns false (and errno)
// on failure, leaving no partial |to|.
bool CopyFile(const char *from, const char *to)
{
   int in = open(from, O_RDONLY);
   if (in < 0)
      return false;
   int out = open(to, O_WRONLY | O_CREAT | O_EXCL, 0600);
   if (out < 0)
   {
      int saved = errno;
      close(in);
      errno = saved;
      return false;
   }
   char buffer[65536];
   bool ok = true;
   ssize_t n;
   while (ok && (n = read(in, buffer, sizeof(buffer))) != 0)
   {
      if (n < 0)
      {
         ok = errno == EINTR;
         continue;
      }
      for (ssize_t done = 0; ok && done < n;)
      {
         ssize_t w = write(out, buffer + done, (size_t)(n - done));
         if (w < 0 && errno != EINTR)
            ok = false;
         else if (w > 0)
            done += w;
      }
   }
   int saved = errno;
   close(in);
   if (close(out) != 0)
      ok = false;
   if (!ok)
   {
      unlink(to);
      errno = saved;
   }
   return ok;
}

bool IsDigits(const char *text)
{
   if (*text == 0)
      return false;
   for (; *text != 0; text++)
      if (*text < '0' || *text > '9')
         return false;
   return true;
}

// Why the connected engine cannot have a dry run, or nullptr when its DDL is
// rolled back with the transaction it runs in.
const char *RefusalReason()
{
   if (strcmp(DBDriverName(), "odbc") == 0)
      return "through ODBC the tool cannot be sure that the engine takes back its schema changes";
   if (!CurrentDialect().transactionalDdl)
      return "this engine commits every schema change by itself, so an upgrade cannot be taken back";
   return nullptr;
}

const char kUndone[] = "Dry run: every change has been undone, the database is as it was\n";

}  // namespace

std::string DryRunCopyName(const std::string &file, long pid)
{
   return file + kCopyMark + std::to_string(pid);
}

void RemoveStaleDryRunCopies(const char *file)
{
   std::string path = file;
   size_t slash = path.rfind('/');
   std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
   std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + kCopyMark;
   DIR *d = opendir(dir.c_str());
   if (d == nullptr)
      return;
   while (struct dirent *entry = readdir(d))
   {
      if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0)
         continue;
      std::string rest = entry->d_name + prefix.size();
      for (int i = 1; i < kCompanionCount; i++)
      {
         size_t len = strlen(kCompanions[i]);
         if (rest.size() > len && rest.compare(rest.size() - len, len, kCompanions[i]) == 0)
         {
            rest.resize(rest.size() - len);
            break;
         }
      }
      if (!IsDigits(rest.c_str()) || rest.size() > 9)
         continue;
      long pid = atol(rest.c_str());
      // A copy whose process still runs belongs to a dry run in progress.
      if (pid == (long)getpid() || kill((pid_t)pid, 0) == 0 || errno != ESRCH)
         continue;
      unlink((dir + "/" + entry->d_name).c_str());
   }
   closedir(d);
}

bool PrepareDryRunCopy()
{
   std::string original = g_szDbName;
   struct stat st;
   if (original.empty() || original == ":memory:" || stat(original.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
   {
      printf("Dry run refused: the database file %s cannot be copied\n", original.c_str());
      return false;
   }
   RemoveStaleDryRunCopies(original.c_str());
   std::string copy = DryRunCopyName(original, (long)getpid());
   if (copy.size() + strlen("-journal") >= sizeof(copyPaths[0]) || copy.size() >= sizeof(g_szDbName))
   {
      printf("Dry run refused: the path of the database file is too long for its copy\n");
      return false;
   }
   for (int i = 0; i < kCompanionCount; i++)
      snprintf(copyPaths[i], sizeof(copyPaths[i]), "%s%s", copy.c_str(), kCompanions[i]);

   // From here on every way out removes what has been copied.
   haveCopy = true;
   static bool registered = false;
   if (!registered)
   {
      atexit(RemoveCopyFiles);
      registered = true;
   }
   for (int sig : {SIGINT, SIGTERM, SIGHUP})
      signal(sig, RemoveCopyOnSignal);

   // Committed changes may still sit in a WAL file, and a hot journal holds
   // what a crashed writer must have rolled back: the copy needs both to show
   // the data as the original does.
   // The shared-memory index (the last companion) is rebuilt from the WAL.
   for (int i = 0; i < kCompanionCount - 1; i++)
   {
      std::string from = original + kCompanions[i];
      if (i > 0 && access(from.c_str(), F_OK) != 0)
         continue;
      if (!CopyFile(from.c_str(), copyPaths[i]))
      {
         printf("Dry run refused: %s cannot be copied to %s (%s)\n", from.c_str(), copyPaths[i], strerror(errno));
         RemoveCopyFiles();
         return false;
      }
   }
   snprintf(g_szDbName, sizeof(g_szDbName), "%s", copy.c_str());
   return true;
}

void RemoveDryRunCopy()
{
   RemoveCopyFiles();
}

bool RunUpgradeDryRun()
{
   // On SQLite the front end has connected to a copy: the upgrade runs as it
   // would, and the copy goes when the run ends.
   if (strcmp(DBDriverName(), "sqlite") == 0)
   {
      bool succeeded = RunUpgradeCommand();
      printf(kUndone);
      return succeeded;
   }

   const char *refusal = RefusalReason();
   if (refusal != nullptr)
   {
      printf("Dry run refused: %s; nothing was changed\n", refusal);
      return false;
   }

   // One transaction around the whole upgrade: each step's own transaction
   // becomes a savepoint inside it, so a failing step is rolled back and
   // reported as in a real run, and at the end everything is rolled back.
   if (!BeginTransaction())
      return false;
   bool succeeded = RunUpgradeCommand();
   if (!RollbackTransaction())
      return false;
   printf(kUndone);
   return succeeded;
}
