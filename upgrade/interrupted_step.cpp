// Marking steps started on MySQL, and recognising DDL that took effect before
// an interruption.
#include "upgrade/interrupted_step.h"

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "db/config_vars.h"
#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"

const char kStepStartedVariable[] = "DBUpgradeStepStarted";

namespace {

// The words of |statement| before its first '(' (where column lists and
// layouts begin), split at blanks.
std::vector<std::string> LeadingWords(const char *statement)
{
   std::vector<std::string> words;
   std::string word;
   for (const char *p = statement; *p != 0 && *p != '('; p++)
   {
      if (isspace((unsigned char)*p))
      {
         if (!word.empty())
            words.push_back(word);
         word.clear();
      }
      else
      {
         word += *p;
      }
   }
   if (!word.empty())
      words.push_back(word);
   return words;
}

bool Is(const std::vector<std::string> &words, size_t i, const char *keyword)
{
   return i < words.size() && strcasecmp(words[i].c_str(), keyword) == 0;
}

// Whether the catalogue query finds a row; false also when it fails, so that
// a check that cannot be made never lets a failure pass.
enum Found
{
   FOUND,
   NOT_FOUND,
   UNKNOWN
};

Found Lookup(const std::string &query)
{
   DB_RESULT result = DBSelect(g_hConnection, query.c_str());
   if (result == nullptr)
      return UNKNOWN;
   Found found = DBGetNumRows(result) > 0 ? FOUND : NOT_FOUND;
   DBFreeResult(result);
   return found;
}

Found TableFound(const std::string &table)
{
   return Lookup("SELECT 1 FROM information_schema.tables WHERE table_schema=DATABASE() AND table_name='" +
                 DoubleQuotes(table.c_str()) + "'");
}

Found ColumnFound(const std::string &table, const std::string &column)
{
   return Lookup("SELECT 1 FROM information_schema.columns WHERE table_schema=DATABASE() AND table_name='" +
                 DoubleQuotes(table.c_str()) + "' AND column_name='" + DoubleQuotes(column.c_str()) + "'");
}

Found IndexFound(const std::string &table, const std::string &index)
{
   return Lookup("SELECT 1 FROM information_schema.statistics WHERE table_schema=DATABASE() AND table_name='" +
                 DoubleQuotes(table.c_str()) + "' AND index_name='" + DoubleQuotes(index.c_str()) + "'");
}

// Something gone from a table that is still there: a dropped column or index.
bool GoneFromExistingTable(const std::string &table, Found what)
{
   return what == NOT_FOUND && TableFound(table) == FOUND;
}

}  // namespace

bool StepsAreMarked()
{
   return g_nSyntax == DB_SYNTAX_MYSQL;
}

int ReadStepStarted()
{
   // Read like the version, unseen. A read that fails finds no mark: the step
   // then runs as a first run does, where no failure counts as done.
   std::string stored;
   if (ReadConfigQuietly(kStepStartedVariable, &stored) != CONFIG_FOUND)
      return -1;
   char text[32];
   snprintf(text, sizeof(text), "%s", stored.c_str());
   char *end;
   long value = strtol(text, &end, 10);
   if (end != text && *end == 0 && value >= 0 && value < INT32_MAX)
      return (int)value;
   return -1;
}

bool MarkStepStarted(int fromVersion)
{
   return PutConfigVariable(kStepStartedVariable, std::to_string(fromVersion).c_str(), 0, 0, true);
}

std::string StepStartedRemoval()
{
   return std::string("DELETE FROM config WHERE var_name='") + kStepStartedVariable + "'";
}

bool DdlEffectInPlace(const char *statement)
{
   std::vector<std::string> w = LeadingWords(statement);
   // DROP TABLE t / CREATE TABLE t (...)
   if (Is(w, 1, "TABLE") && w.size() == 3)
   {
      if (Is(w, 0, "DROP"))
         return TableFound(w[2]) == NOT_FOUND;
      if (Is(w, 0, "CREATE"))
         return TableFound(w[2]) == FOUND;
      return false;
   }
   // ALTER TABLE t ADD PRIMARY KEY (...) / ALTER TABLE t ADD [COLUMN] c ... /
   // ALTER TABLE t DROP [COLUMN] c / ALTER TABLE t DROP PRIMARY KEY
   if (Is(w, 0, "ALTER") && Is(w, 1, "TABLE") && w.size() >= 5)
   {
      const std::string &table = w[2];
      bool add = Is(w, 3, "ADD");
      if (!add && !Is(w, 3, "DROP"))
         return false;
      if (Is(w, 4, "PRIMARY") && Is(w, 5, "KEY"))
      {
         Found key = IndexFound(table, "PRIMARY");
         return add ? key == FOUND : GoneFromExistingTable(table, key);
      }
      size_t at = Is(w, 4, "COLUMN") ? 5 : 4;
      if (at >= w.size() || Is(w, at, "INDEX") || Is(w, at, "KEY") || Is(w, at, "CONSTRAINT") ||
          Is(w, at, "UNIQUE") || Is(w, at, "FOREIGN"))
         return false;
      Found column = ColumnFound(table, w[at]);
      return add ? column == FOUND : GoneFromExistingTable(table, column);
   }
   // CREATE [UNIQUE] INDEX i ON t(...)
   if (Is(w, 0, "CREATE"))
   {
      size_t at = Is(w, 1, "UNIQUE") ? 2 : 1;
      if (Is(w, at, "INDEX") && Is(w, at + 2, "ON") && at + 3 < w.size())
         return IndexFound(w[at + 3], w[at + 1]) == FOUND;
      return false;
   }
   // DROP INDEX i ON t
   if (Is(w, 0, "DROP") && Is(w, 1, "INDEX") && Is(w, 3, "ON") && w.size() == 5)
      return GoneFromExistingTable(w[4], IndexFound(w[4], w[2]));
   return false;
}
