// Configuration file loader: "Keyword = Value" lines, '#' comments.
#include "lib/korvel/korvel.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool IsBlank(char c)
{
   return c == ' ' || c == '\t';
}

// True when |rest| is empty or blank, or blanks followed by a comment.
bool OnlyCommentLeft(const std::string &rest)
{
   size_t i = 0;
   while (i < rest.size() && IsBlank(rest[i]))
      i++;
   return i == rest.size() || (i > 0 && rest[i] == '#');
}

// Splits the value part of a line into the value itself. A quoted value ends
// at the first quote that only blanks or a comment follow, so a quote inside
// the value and a note after it both work. An unquoted value ends where a
// comment starts: '#' after a blank, so that "ab#cd" (a password, say) stays whole.
bool ParseValue(const std::string &text, std::string *value)
{
   if (!text.empty() && text[0] == '"')
   {
      for (size_t q = text.find('"', 1); q != std::string::npos; q = text.find('"', q + 1))
      {
         if (OnlyCommentLeft(text.substr(q + 1)))
         {
            *value = text.substr(1, q - 1);
            return true;
         }
      }
      return false;
   }
   size_t end = text.size();
   for (size_t i = 1; i < text.size(); i++)
   {
      if (text[i] == '#' && IsBlank(text[i - 1]))
      {
         end = i;
         break;
      }
   }
   *value = Trim(text.substr(0, end));
   return true;
}

// Opens |path| for reading only when it is a regular file. The open does not
// wait for a writer (a FIFO would block it), and a device or a directory is
// refused before anything is read from it.
FILE *OpenRegularFile(const char *path)
{
   int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
   if (fd < 0)
   {
      fprintf(stderr, "%s: cannot open configuration file: %s\n", path, strerror(errno));
      return nullptr;
   }
   struct stat st;
   if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
   {
      fprintf(stderr, "%s: not a regular file\n", path);
      close(fd);
      return nullptr;
   }
   FILE *f = fdopen(fd, "r");
   if (f == nullptr)
   {
      fprintf(stderr, "%s: cannot open configuration file: %s\n", path, strerror(errno));
      close(fd);
   }
   return f;
}

}  // namespace

uint32_t KvLoadConfig(const char *path, const char *section, const ConfigTemplateEntry *cfgTemplate, int flags)
{
   (void)section;
   (void)flags;
   FILE *f = OpenRegularFile(path);
   if (f == nullptr)
      return 1;

   uint32_t rc = 0;
   std::string line;
   int lineNo = 0;
   bool eof = false;
   while (rc == 0 && !eof)
   {
      // Read one whole line, however long: a long value must be reported, not
      // split. Byte by byte, so that a NUL byte is seen and refused rather than
      // taken for the end of the line.
      line.clear();
      bool hasNul = false;
      int c;
      while ((c = getc(f)) != EOF && c != '\n')
      {
         hasNul |= (c == 0);
         line += (char)c;
      }
      eof = (c == EOF);
      if (eof && line.empty())
         break;
      lineNo++;
      if (hasNul)
      {
         rc = Fail(path, lineNo, "NUL byte in line", "");
         break;
      }
      // Editors on some systems start a UTF-8 file with a byte-order mark.
      if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
         line.erase(0, 3);

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
      std::string value;
      if (keyword.empty())
      {
         rc = Fail(path, lineNo, "missing keyword before '='", "");
         break;
      }
      if (!ParseValue(Trim(text.substr(eq + 1)), &value))
      {
         rc = Fail(path, lineNo, "unterminated quoted value for ", keyword);
         break;
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
