// Statement execution, tracing and confirmation prompts.
#include "db/statements.h"

#include <stdarg.h>
#include <stdio.h>

#include "db/settings.h"
#include "lib/kvsrv/kvsrv_driver.h"
#include "lib/platform/console.h"

namespace {

int s_nFailedStatements = 0;

void ReportFailure(const char *error, const char *statement)
{
   s_nFailedStatements++;
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

}  // namespace

int FailedStatementCount()
{
   return s_nFailedStatements;
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
   s_nFailedStatements++;
   printf("SQL query failed:\n");
   SetConsoleColor(CONSOLE_YELLOW);
   printf("%s\n", query);
   SetConsoleColor(CONSOLE_NORMAL);
   return nullptr;
}

bool RowExists(const char *query)
{
   DB_RESULT result = ExecSelect(query);
   if (result == nullptr)
      return false;
   int rows = DBGetNumRows(result);
   DBFreeResult(result);
   return rows > 0;
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
      while (true)
      {
         int c = ReadKey();
         if (c < 0)
            break;  // end of input: change nothing, and never hang
         if (c == 'y' || c == 'Y')
         {
            yes = true;
            break;
         }
         if (c == 'n' || c == 'N')
            break;
      }
   }
   fputs(yes ? "Y\n" : "N\n", stdout);
   fflush(stdout);
   return yes;
}
