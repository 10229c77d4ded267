// kv_schema_gen: writes the per-dialect schema and baseline files from their
// templates, or with --check reports the checked-in files that are out of date.
//
//   kv_schema_gen <source dir>          rewrite every generated file that differs
//   kv_schema_gen --check <source dir>  exit 1 when any generated file differs
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sql/schema_template.h"

namespace {

bool ReadFile(const std::string &path, std::string *content)
{
   std::ifstream in(path, std::ios::binary);
   if (!in)
      return false;
   std::ostringstream text;
   text << in.rdbuf();
   *content = text.str();
   return true;
}

bool WriteFile(const std::string &path, const std::string &content)
{
   std::ofstream out(path, std::ios::binary | std::ios::trunc);
   out << content;
   return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char **argv)
{
   bool check = argc == 3 && strcmp(argv[1], "--check") == 0;
   if (argc != 2 && !check)
   {
      fprintf(stderr, "usage: kv_schema_gen [--check] <source dir>\n");
      return 2;
   }
   const std::string root = std::string(argv[argc - 1]) + "/";

   int stale = 0;
   for (const SchemaTemplateFile &file : SchemaTemplateFiles())
   {
      std::string source;
      if (!ReadFile(root + file.source, &source))
      {
         fprintf(stderr, "kv_schema_gen: cannot read %s%s\n", root.c_str(), file.source);
         return 2;
      }
      for (const std::string &name : file.dialects)
      {
         std::string expanded, error;
         if (!ExpandSchemaTemplate(source, *FindSchemaDialect(name), &expanded, &error))
         {
            fprintf(stderr, "%s%s (%s): %s\n", root.c_str(), file.source, name.c_str(), error.c_str());
            return 2;
         }
         std::string path = SchemaOutputPath(file, name);
         std::string current;
         if (ReadFile(root + path, &current) && current == expanded)
            continue;
         stale++;
         if (check)
         {
            fprintf(stderr, "%s is out of date with %s\n", path.c_str(), file.source);
         }
         else if (!WriteFile(root + path, expanded))
         {
            fprintf(stderr, "kv_schema_gen: cannot write %s%s\n", root.c_str(), path.c_str());
            return 2;
         }
         else
         {
            printf("wrote %s\n", path.c_str());
         }
      }
   }
   return (check && stale > 0) ? 1 : 0;
}
