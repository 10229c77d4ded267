// Expands the schema templates (sql/schema.in, tests/fixtures/format14/baseline.in)
// into one plain SQL batch file per dialect; shared by the generator and its tests.
#pragma once

#include <string>
#include <vector>

#include "db/dialects.h"
#include "db/settings.h"

// What the macros of a template become in one dialect.
struct SchemaDialect
{
   const char *name;       // file name stem and guard name: sqlite, pgsql, mysql, mssql, oracle
   const char *syntax;     // value of DBSyntax
   const char *text;       // $SQL:TEXT — the long-text type, as the upgrade scripts replace it
   const char *int64;      // $SQL:INT64 — the 64-bit type, as the upgrade scripts replace it
   const char *bigint;     // $SQL:BIGINT — "bigint" where the engine knows it
   const char *longtext;   // $SQL:LONGTEXT — a nullable long-text column that MySQL holds as text not null
};

// The five dialects. The DBSyntax name and the long-text and 64-bit types come
// from the tool's own dialect rows, so that a fresh database and an upgraded
// one have the same types.
inline const std::vector<SchemaDialect> &SchemaDialects()
{
   auto row = [](const char *stem, int syntax, const char *bigint, const char *longtext) {
      const DialectRow &d = Dialects[syntax];
      return SchemaDialect{stem, d.name, d.text, d.int64, bigint, longtext};
   };
   static const std::vector<SchemaDialect> dialects = {
      row("sqlite", DB_SYNTAX_SQLITE, "bigint", "varchar"),
      row("pgsql", DB_SYNTAX_PGSQL, "bigint", "varchar"),
      row("mysql", DB_SYNTAX_MYSQL, "bigint", "text not null"),
      row("mssql", DB_SYNTAX_MSSQL, "bigint", "text"),
      row("oracle", DB_SYNTAX_ORACLE, "number(20)", "clob"),
   };
   return dialects;
}

// Returns the dialect called |name|, or null.
inline const SchemaDialect *FindSchemaDialect(const std::string &name)
{
   for (const SchemaDialect &d : SchemaDialects())
      if (name == d.name)
         return &d;
   return nullptr;
}

// One template and the files made from it (paths relative to the source tree;
// "%s" in |output| stands for the dialect name).
struct SchemaTemplateFile
{
   const char *source;
   const char *output;
   std::vector<std::string> dialects;
};

// Every generated file of the project.
inline const std::vector<SchemaTemplateFile> &SchemaTemplateFiles()
{
   static const std::vector<SchemaTemplateFile> files = {
      {"sql/schema.in", "sql/%s.sql", {"sqlite", "pgsql", "mysql", "mssql", "oracle"}},
      {"tests/fixtures/format14/baseline.in", "tests/fixtures/format14/%s.sql", {"sqlite", "pgsql", "mysql"}},
   };
   return files;
}

// The output path of |file| for |dialect|.
inline std::string SchemaOutputPath(const SchemaTemplateFile &file, const std::string &dialect)
{
   std::string path = file.output;
   size_t at = path.find("%s");
   return path.substr(0, at) + dialect + path.substr(at + 2);
}

namespace schema_detail {

inline void ReplaceAll(std::string *text, const std::string &from, const std::string &to)
{
   for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
      text->replace(at, from.size(), to);
}

// True when the guard list |list| ("mysql,pgsql" or "!oracle") admits |dialect|.
inline bool GuardAdmits(const std::string &list, const std::string &dialect, bool *valid)
{
   bool negate = !list.empty() && list[0] == '!';
   std::string names = negate ? list.substr(1) : list;
   bool listed = false;
   *valid = !names.empty();
   size_t start = 0;
   while (start <= names.size())
   {
      size_t comma = names.find(',', start);
      std::string name = names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (FindSchemaDialect(name) == nullptr)
         *valid = false;
      if (name == dialect)
         listed = true;
      if (comma == std::string::npos)
         break;
      start = comma + 1;
   }
   return negate ? !listed : listed;
}

}  // namespace schema_detail

// Expands |text| for |dialect| into |out|. Template rules:
//  - lines whose first non-blank characters are "--", and blank lines, are dropped;
//  - a line that starts with "[names] " (a comma list of dialects, or "!" and a
//    list to exclude them) is kept only for the dialects it admits, without the guard;
//  - $SQL:TEXT, $SQL:INT64, $SQL:BIGINT, $SQL:LONGTEXT and $SQL:SYNTAX are replaced.
// Every statement must end with ';' at the end of a line, so the output is a batch
// file of statements each ended by ";\n". Returns false with |error| (naming the
// line) for an unknown guard, a leftover macro or an unterminated last statement.
inline bool ExpandSchemaTemplate(const std::string &text, const SchemaDialect &dialect,
                                 std::string *out, std::string *error)
{
   out->clear();
   int lineNumber = 0;
   bool open = false;   // a statement has started and not yet ended with ';'
   size_t start = 0;
   while (start < text.size())
   {
      size_t end = text.find('\n', start);
      std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      start = (end == std::string::npos) ? text.size() : end + 1;
      lineNumber++;

      size_t first = line.find_first_not_of(" \t\r");
      if (first == std::string::npos || line.compare(first, 2, "--") == 0)
         continue;
      if (line[0] == '[')
      {
         size_t close = line.find("] ");
         bool valid = false;
         bool admitted = close != std::string::npos &&
                         schema_detail::GuardAdmits(line.substr(1, close - 1), dialect.name, &valid);
         if (close == std::string::npos || !valid)
         {
            *error = "line " + std::to_string(lineNumber) + ": bad dialect guard";
            return false;
         }
         if (!admitted)
            continue;
         line = line.substr(close + 2);
      }
      schema_detail::ReplaceAll(&line, "$SQL:TEXT", dialect.text);
      schema_detail::ReplaceAll(&line, "$SQL:INT64", dialect.int64);
      schema_detail::ReplaceAll(&line, "$SQL:BIGINT", dialect.bigint);
      schema_detail::ReplaceAll(&line, "$SQL:LONGTEXT", dialect.longtext);
      schema_detail::ReplaceAll(&line, "$SQL:SYNTAX", dialect.syntax);
      if (line.find("$SQL:") != std::string::npos)
      {
         *error = "line " + std::to_string(lineNumber) + ": unknown macro";
         return false;
      }
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
         line.pop_back();
      *out += line;
      *out += '\n';
      open = line.back() != ';';
   }
   if (open)
   {
      *error = "the last statement does not end with ';'";
      return false;
   }
   return true;
}
