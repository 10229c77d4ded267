// SQL batch files.
#include "maint/batch.h"

#include <stdio.h>
#include <stdlib.h>

#include "db/statements.h"
#include "lib/korvel/korvel.h"

char *NextStatement(char *start, char *end)
{
   bool quoted = false;
   for (char *p = start; p < end; p++)
   {
      if (*p == '\'')
         quoted = !quoted;
      else if (*p == ';' && !quoted)
      {
         *p = 0;
         return p + 2;  // the character right after ';' belongs to no statement
      }
   }
   return end;
}

bool IsBlankStatement(const char *text)
{
   for (; *text != 0; text++)
      if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n')
         return false;
   return true;
}

BatchOutcome RunBatch(const char *path)
{
   uint32_t size = 0;
   // LoadFile puts a zero byte after the data, so a last statement without ';'
   // is terminated without writing past the file's bytes.
   char *data = LoadFile(path, &size);
   if (data == nullptr)
   {
      printf("ERROR: Cannot load SQL command file %s\n", path);
      return BATCH_LOAD_FAILED;
   }
   char *end = data + size;
   BatchOutcome outcome = BATCH_NOTHING_TO_RUN;
   for (char *position = data; position < end;)
   {
      char *next = NextStatement(position, end);
      if (!IsBlankStatement(position))
      {
         if (!ExecStatement(position))
         {
            outcome = BATCH_STATEMENT_FAILED;
            break;
         }
         outcome = BATCH_DONE;
      }
      position = next;
   }
   free(data);
   return outcome;
}

bool RunBatchFile(const char *path)
{
   return RunBatch(path) == BATCH_DONE;
}

bool RunBatchCommand(const char *path)
{
   BatchOutcome outcome = RunBatch(path);
   return outcome == BATCH_DONE || outcome == BATCH_NOTHING_TO_RUN;
}
