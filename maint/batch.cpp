// SQL batch files.
#include "maint/batch.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "db/statements.h"
#include "lib/korvel/korvel.h"

char *StatementEnd(char *start, char *end)
{
   bool quoted = false;
   for (char *p = start; p < end; p++)
   {
      if (*p == '\'')
         quoted = !quoted;
      else if (*p == ';' && !quoted)
         return p;
   }
   return end;
}

char *NextStatement(char *start, char *end)
{
   char *stop = StatementEnd(start, end);
   if (stop == end)
      return end;
   *stop = 0;
   return stop + 2;  // the character right after ';' belongs to no statement
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
      // A zero byte would end the statement's text early: the server would
      // get only its first part (a DELETE without the rest of its WHERE).
      char *stop = StatementEnd(position, end);
      if (memchr(position, 0, (size_t)(stop - position)) != nullptr)
      {
         printf("ERROR: SQL command file %s holds a NUL byte in the statement at byte %u; it and all that follow "
                "are not run\n",
                path, (unsigned)(position - data));
         outcome = BATCH_STATEMENT_FAILED;
         break;
      }
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

bool RunBatchCommand(const char *path)
{
   BatchOutcome outcome = RunBatch(path);
   return outcome == BATCH_DONE || outcome == BATCH_NOTHING_TO_RUN;
}
