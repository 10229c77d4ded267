// Statement execution, tracing and confirmation prompts.
#include "db/statements.h"

#include <stdarg.h>
#include <stdio.h>

#include "db/settings.h"
#include "lib/kvsrv/kvsrv_driver.h"
#include "lib/platform/console.h"

namespace {

int failedStatements = 0;

void ReportFailure(const char *error, const char *statement)
{
   failedStatements++;
   printf("SQL query failed (%s):\n", error);
   SetConsoleColor(CONSOLE_YELLOW);
   printf("%s\n", statement);
   SetConsoleColor(CONSOLE_NORMAL);
}

bool TransactionCall(bool (*call)(db_handle_t, char *), const char *statement)
{
   char error[KV_DRIVER_ERROR_SIZE];
   if (call(g_hConnection, error))
      return true;
   ReportFailure(error, statement);
   return false;
}

// Ignored keys since the last answer, and whether the input has ended (or
// counts as ended): then every further question is answered no at once.
int ignoredKeys = 0;
bool inputEnded = false;

}  // namespace

int FailedStatementCount()
{
   return failedStatements;
}

std::string FormatStatement(const char *format, ...)
{
   va_list args;
   va_start(args, format);
   va_list again;
   va_copy(again, args);
   int length = vsnprintf(nullptr, 0, format, args);
   va_end(args);
   std::string text;
   if (length > 0)
   {
      text.resize((size_t)length + 1);
      vsnprintf(&text[0], text.size(), format, again);
      text.resize((size_t)length);
   }
   va_end(again);
   return text;
}

void EchoStatement(const char *statement)
{
   SetConsoleColor(CONSOLE_WHITE);
   fputs(">>> ", stdout);
   SetConsoleColor(CONSOLE_GREEN);
   printf("%s\n", statement);
   SetConsoleColor(CONSOLE_NORMAL);
}

bool ExecStatement(const char *statement, EffectInPlace alreadyDone)
{
   if (*statement == 0)
      return true;
   if (g_bShowQueries)
      EchoStatement(statement);
   char error[KV_DRIVER_ERROR_SIZE];
   if (DBQueryEx(g_hConnection, statement, error))
      return true;
   if (alreadyDone != nullptr && alreadyDone(statement))
   {
      printf("Already done by the interrupted run: %s\n", statement);
      return true;
   }
   ReportFailure(error, statement);
   return false;
}

bool ExecQuietStatement(const char *statement)
{
   return DBQuery(g_hConnection, statement);
}

bool BeginTransaction()
{
   return TransactionCall(DBBeginEx, "BEGIN");
}

bool CommitTransaction()
{
   return TransactionCall(DBCommitEx, "COMMIT");
}

bool RollbackTransaction()
{
   return TransactionCall(DBRollbackEx, "ROLLBACK");
}

DB_RESULT ExecSelect(const char *query)
{
   if (g_bShowQueries)
      EchoStatement(query);
   DB_RESULT result = DBSelect(g_hConnection, query);
   if (result != nullptr)
      return result;
   failedStatements++;
   printf("SQL query failed:\n");
   SetConsoleColor(CONSOLE_YELLOW);
   printf("%s\n", query);
   SetConsoleColor(CONSOLE_NORMAL);
   return nullptr;
}

std::string Printable(const char *text)
{
   std::string shown;
   for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++)
   {
      if (*p < 0x20 || *p == 0x7F)
         shown += '?';
      else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F)
      {
         shown += '?';
         p++;
      }
      else
         shown += (char)*p;
   }
   return shown;
}

bool AskYesNo()
{
   bool yes = false;
   if (g_bAutoConfirm)
   {
      yes = true;
   }
   else
   {
      while (!inputEnded)
      {
         int c = ReadKey();
         if (c < 0)
         {
            inputEnded = true;  // end of input: change nothing, and never hang
            break;
         }
         if (c == 'y' || c == 'Y')
         {
            yes = true;
            ignoredKeys = 0;
            break;
         }
         if (c == 'n' || c == 'N')
         {
            ignoredKeys = 0;
            break;
         }
         if (++ignoredKeys >= kMaxIgnoredKeys)
            inputEnded = true;
      }
   }
   fputs(yes ? "Y\n" : "N\n", stdout);
   fflush(stdout);
   return yes;
}
