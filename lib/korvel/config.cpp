// Configuration file loader: "Keyword = Value" lines, '#' comments.
#include "lib/korvel/korvel.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>

namespace {

std::string Trim(const std::string &s)
{
   size_t b = s.find_first_not_of(" \t\r\n");
   if (b == std::string::npos)
      return std::string();
   size_t e = s.find_last_not_of(" \t\r\n");
   return s.substr(b, e - b + 1);
}

const ConfigTemplateEntry *FindKeyword(const ConfigTemplateEntry *t, const std::string &keyword)
{
   for (; t->kind != CT_END_OF_LIST; t++)
      if (!strcasecmp(t->keyword, keyword.c_str()))
         return t;
   return nullptr;
}

uint32_t Fail(const char *path, int line, const char *what, const std::string &detail)
{
   fprintf(stderr, "%s:%d: %s%s\n", path, line, what, detail.c_str());
   return 1;
}

}  // namespace

uint32_t KvLoadConfig(const char *path, const char *section, const ConfigTemplateEntry *cfgTemplate, int flags)
{
   (void)section;
   (void)flags;
   FILE *f = fopen(path, "r");
   if (f == nullptr)
   {
      fprintf(stderr, "%s: cannot open configuration file: %s\n", path, strerror(errno));
      return 1;
   }

   uint32_t rc = 0;
   std::string line;
   int lineNo = 0;
   char chunk[4096];
   bool eof = false;
   while (rc == 0 && !eof)
   {
      // Read one whole line, however long: a long value must be reported, not split.
      line.clear();
      bool gotAny = false;
      while (true)
      {
         if (fgets(chunk, sizeof(chunk), f) == nullptr)
         {
            eof = true;
            break;
         }
         gotAny = true;
         line += chunk;
         if (!line.empty() && line.back() == '\n')
            break;
      }
      if (!gotAny)
         break;
      lineNo++;

      std::string text = Trim(line);
      if (text.empty() || text[0] == '#')
         continue;

      size_t eq = text.find('=');
      if (eq == std::string::npos)
      {
         rc = Fail(path, lineNo, "expected \"Keyword = Value\": ", text);
         break;
      }
      std::string keyword = Trim(text.substr(0, eq));
      std::string value = Trim(text.substr(eq + 1));
      if (keyword.empty())
      {
         rc = Fail(path, lineNo, "missing keyword before '='", "");
         break;
      }
      if (!value.empty() && value[0] == '"')
      {
         if (value.size() < 2 || value.back() != '"')
         {
            rc = Fail(path, lineNo, "unterminated quoted value for ", keyword);
            break;
         }
         value = value.substr(1, value.size() - 2);
      }
      else
      {
         // An unquoted value ends where a comment starts.
         size_t hash = value.find('#');
         if (hash != std::string::npos)
            value = Trim(value.substr(0, hash));
      }

      const ConfigTemplateEntry *entry = FindKeyword(cfgTemplate, keyword);
      if (entry == nullptr)
      {
         rc = Fail(path, lineNo, "unknown keyword ", keyword);
         break;
      }
      if (entry->kind == CT_IGNORE)
         continue;
      if (entry->kind != CT_STRING || entry->destination == nullptr)
      {
         rc = Fail(path, lineNo, "unsupported keyword ", keyword);
         break;
      }
      if (value.size() + 1 > entry->bufferSize)
      {
         rc = Fail(path, lineNo, "value too long for ",
                   keyword + " (" + std::to_string(value.size()) + " characters, at most " +
                      std::to_string(entry->bufferSize - 1) + ")");
         break;
      }
      memcpy(entry->destination, value.c_str(), value.size() + 1);
   }
   if (rc == 0 && ferror(f))
   {
      fprintf(stderr, "%s: read error: %s\n", path, strerror(errno));
      rc = 1;
   }
   fclose(f);
   return rc;
}
