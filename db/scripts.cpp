// Scripts, dialect macros and table creation.
#include "db/scripts.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "db/settings.h"
#include "db/statements.h"
#include "lib/korvel/korvel.h"

namespace {

// Replaces every "$SQL:TEXT" and then every "$SQL:INT64" in |text| by the
// connected dialect's types, in place. The text never grows.
void ReplaceColumnTypeMacros(char *text)
{
   const DialectRow &names = CurrentDialect();
   TranslateStr(text, "$SQL:TEXT", names.text);
   TranslateStr(text, "$SQL:INT64", names.int64);
}

}  // namespace

bool RunScript(const char *script, EffectInPlace alreadyDone)
{
   std::vector<char> copy(script, script + strlen(script) + 1);
   ReplaceColumnTypeMacros(copy.data());
   char *line = copy.data();
   while (*line != 0)
   {
      char *next = strchr(line, '\n');
      if (next != nullptr)
         *next++ = 0;
      else
         next = line + strlen(line);
      if (strcmp(line, "<END>") == 0)
         return true;
      // ExecStatement echoes, runs and reports exactly as a script line needs;
      // an empty line (none occurs in a script) is passed over.
      if (!ExecStatement(line, alreadyDone) && !g_bSkipErrors)
         return false;
      line = next;
   }
   return true;
}

bool ExecCreateTable(const char *statement, EffectInPlace alreadyDone)
{
   std::string text = statement;
   ReplaceColumnTypeMacros(&text[0]);
   text.resize(strlen(text.c_str()));
   if (g_nSyntax == DB_SYNTAX_MYSQL)
      text += g_pszTableType;
   return ExecStatement(text.c_str(), alreadyDone);
}

bool AddPrimaryKey(const char *table, const char *columns, EffectInPlace alreadyDone)
{
   if (g_nSyntax == DB_SYNTAX_SQLITE)
      return true;
   return ExecStatement(FormatStatement("ALTER TABLE %s ADD PRIMARY KEY (%s)", table, columns).c_str(), alreadyDone);
}

std::string DoubleQuotes(const char *text)
{
   std::string out;
   for (const char *p = text; *p != 0; p++)
   {
      out += *p;
      if (*p == '\'')
         out += '\'';
   }
   return out;
}
