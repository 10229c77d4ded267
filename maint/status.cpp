// The status command.
#include "maint/status.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "db/config_vars.h"
#include "db/dialects.h"
#include "db/settings.h"
#include "db/statements.h"
#include "db/version.h"
#include "maint/lock.h"
#include "upgrade/upgrade.h"

namespace {

// Standard output as it was before DivertOutputForJson, or -1.
int jsonFd = -1;

struct StatusFacts
{
   ConfigRead version = CONFIG_READ_FAILED;
   int formatVersion = 0;
   int pendingSteps = 0;
   int missingProcedure = -1;   // the first version the upgrade has no step for, or -1
   ConfigRead lock = CONFIG_READ_FAILED;
   bool locked = false;
   char owner[256] = "";
   char info[256] = "";
};

StatusFacts ReadFacts()
{
   StatusFacts facts;
   // Quietly, as every command reads them: status traces nothing, and a
   // failed read is one of its facts, not an error report.
   facts.version = ReadStoredFormatVersion(&facts.formatVersion);
   if (facts.version == CONFIG_FOUND && facts.formatVersion < TargetFormatVersion)
   {
      facts.pendingSteps = TargetFormatVersion - facts.formatVersion;
      for (int v = facts.formatVersion; v < TargetFormatVersion; v++)
         if (FindUpgradeProcedure(v) == nullptr)
         {
            facts.missingProcedure = v;
            break;
         }
   }
   // The same rule as unlock and check: the decoded owner, compared exactly.
   // A missing row (a format before the lock existed) is no lock.
   facts.lock = ReadLockFacts(facts.owner, facts.info, &facts.locked);
   return facts;
}

bool Complete(const StatusFacts &facts)
{
   return facts.version == CONFIG_FOUND && facts.lock != CONFIG_READ_FAILED;
}

void PrintText(const StatusFacts &facts)
{
   printf("Driver: %s\n", DBDriverName());
   printf("Dialect: %s\n", CurrentDialect().name);
   if (facts.version == CONFIG_FOUND)
      printf("Format version: %d\n", facts.formatVersion);
   else
      printf("Format version: %s\n", facts.version == CONFIG_MISSING ? "missing" : "unreadable");
   printf("Target format version: %d\n", TargetFormatVersion);
   if (facts.version != CONFIG_FOUND)
      printf("Upgrade steps pending: unknown\n");
   else if (facts.formatVersion > TargetFormatVersion)
      printf("Upgrade steps pending: none, the database format is newer than this tool's\n");
   else if (facts.missingProcedure >= 0)
      printf("Upgrade steps pending: %d, but there is no upgrade procedure for version %d\n", facts.pendingSteps,
             facts.missingProcedure);
   else
      printf("Upgrade steps pending: %d\n", facts.pendingSteps);
   if (facts.lock == CONFIG_READ_FAILED)
      printf("Lock: unreadable\n");
   else if (facts.locked)
      printf("Lock: locked by server %s [%s]\n", Printable(facts.owner).c_str(), Printable(facts.info).c_str());
   else
      printf("Lock: not locked\n");
}

// |text| as a JSON string. Valid UTF-8 passes; control characters and bytes
// that are not UTF-8 are escaped, so the document always parses.
std::string JsonString(const char *text)
{
   std::string out = "\"";
   const unsigned char *p = (const unsigned char *)text;
   while (*p != 0)
   {
      unsigned char c = *p;
      int length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 2 : (c & 0xF0) == 0xE0 ? 3
                                : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 4 : 0;
      for (int i = 1; i < length; i++)
         if ((p[i] & 0xC0) != 0x80)
            length = 0;
      if (c == '"' || c == '\\')
      {
         out += '\\';
         out += (char)c;
      }
      else if (c < 0x20 || c == 0x7F || length == 0)
      {
         char escaped[8];
         snprintf(escaped, sizeof(escaped), "\\u%04x", c);
         out += escaped;
         length = 1;
      }
      else
      {
         out.append((const char *)p, (size_t)length);
         p += length;
         continue;
      }
      p++;
   }
   return out + "\"";
}

std::string JsonDocument(const StatusFacts &facts)
{
   bool known = facts.version == CONFIG_FOUND;
   bool lockKnown = facts.lock != CONFIG_READ_FAILED;
   std::string json = "{";
   json += "\"driver\":" + JsonString(DBDriverName());
   json += ",\"dialect\":" + JsonString(CurrentDialect().name);
   json += ",\"format_version\":" + (known ? std::to_string(facts.formatVersion) : std::string("null"));
   json += ",\"target_format_version\":" + std::to_string(TargetFormatVersion);
   json += ",\"pending_steps\":" + (known ? std::to_string(facts.pendingSteps) : std::string("null"));
   json += std::string(",\"format_newer\":") + (known && facts.formatVersion > TargetFormatVersion ? "true" : "false");
   json += ",\"missing_procedure\":" +
           (facts.missingProcedure >= 0 ? std::to_string(facts.missingProcedure) : std::string("null"));
   json += std::string(",\"locked\":") + (lockKnown ? (facts.locked ? "true" : "false") : "null");
   json += ",\"lock_owner\":" + (lockKnown && facts.locked ? JsonString(facts.owner) : std::string("null"));
   json += ",\"lock_info\":" + (lockKnown && facts.locked ? JsonString(facts.info) : std::string("null"));
   json += std::string(",\"complete\":") + (Complete(facts) ? "true" : "false");
   return json + "}\n";
}

}  // namespace

void DivertOutputForJson()
{
   fflush(stdout);
   jsonFd = dup(STDOUT_FILENO);
   if (jsonFd >= 0)
      dup2(STDERR_FILENO, STDOUT_FILENO);
}

bool RunStatusCommand()
{
   StatusFacts facts = ReadFacts();
   if (!g_bJsonOutput)
   {
      PrintText(facts);
      return Complete(facts);
   }
   std::string json = JsonDocument(facts);
   fflush(stdout);
   int fd = jsonFd >= 0 ? jsonFd : STDOUT_FILENO;
   for (size_t done = 0; done < json.size();)
   {
      ssize_t n = write(fd, json.data() + done, json.size() - done);
      if (n <= 0)
         return false;
      done += (size_t)n;
   }
   return Complete(facts);
}
