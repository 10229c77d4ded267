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

bool RunBatchFile(const char *path)
{
   uint32_t size = 0;
   // LoadFile puts a zero byte after the data, so a last statement without ';'
   // is terminated without writing past the file's bytes.
   char *data = LoadFile(path, &size);
   if (data == nullptr)
   {
      printf("ERROR: Cannot load SQL command file %s\n", path);
      return false;
   }
   char *end = data + size;
   bool result = false;
   for (char *position = data; position < end;)
   {
      char *next = NextStatement(position, end);
      if (!IsBlankStatement(position))
      {
         result = ExecStatement(position);
         if (!result)
            break;
      }
      position = next;
   }
   free(data);
   return result;
}
