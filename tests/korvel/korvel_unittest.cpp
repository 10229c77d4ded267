// The common runtime library: configuration loading, files, macro replacement, UUIDs.
#include <string.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "lib/korvel/korvel.h"
#include "tests/support/harness.h"

namespace {

struct Destinations
{
   char driver[16];
   char name[8];
   char codePage[260];
};

// A small template shaped like the tool's own: two stored keywords, one ignored.
uint32_t Load(const std::string &content, Destinations *d, std::string *path)
{
   static TempDir dir;
   *path = dir.Write("test.conf", content);
   const ConfigTemplateEntry templ[] = {
      {"DBDriver", CT_STRING, 0, 0, sizeof(d->driver), 0, d->driver},
      {"DBName", CT_STRING, 0, 0, sizeof(d->name), 0, d->name},
      {"LogFile", CT_IGNORE, 0, 0, 0, 0, nullptr},
      {"", CT_END_OF_LIST, 0, 0, 0, 0, nullptr}};
   strcpy(d->driver, "unset");
   strcpy(d->name, "unset");
   return KvLoadConfig(path->c_str(), "", templ, 1);
}

TEST(KvLoadConfig, GoodFiles)
{
   struct Case
   {
      std::string content;
      const char *driver;
      const char *name;
   } cases[] = {
      {"DBDriver = sqlite\nDBName = k.db\n", "sqlite", "k.db"},
      {"dbdriver=pgsql\r\n", "pgsql", "unset"},                            // keywords ignore case; CRLF
      {"# comment\n\n   \n  DBName   =   \"a b \"  \n", "unset", "a b "},  // quotes keep blanks
      {"DBName = x # trailing comment\n", "unset", "x"},
      {"DBName = \"#1\"\n", "unset", "#1"},                                 // '#' inside quotes is text
      {"DBName =\n", "unset", ""},
      {"DBName = 1234567\n", "unset", "1234567"},                           // exactly fills its 8 bytes
      {"LogFile = /var/log/korveld.log\nDBDriver = a\n", "a", "unset"},     // accepted, not stored
      {"DBName = x=y\n", "unset", "x=y"},
      {"DBDriver = a\nDBDriver = b", "b", "unset"},                          // last line without line break
      // '#' starts a comment only at the start of a line or after a blank.
      {"DBName = ab#cd\n", "unset", "ab#cd"},
      {"DBName = a#b #c\n", "unset", "a#b"},
      {"DBName = x\t# tab before\n", "unset", "x"},
      {"DBName = \"x\" # note\n", "unset", "x"},
      {"DBName = \"x\"\t# a \"quoted\" note\r\n", "unset", "x"},
      {"DBName = \"a\"b\"\n", "unset", "a\"b"},                                // a quote inside quotes
      {"DBName = \"a # b\"\n", "unset", "a # b"},
      {"\xEF\xBB\xBF" "DBDriver = a\n", "a", "unset"},                         // UTF-8 byte-order mark
      {"\xEF\xBB\xBF# comment\nDBName = b\n", "unset", "b"},
   };
   for (const Case &c : cases)
   {
      Destinations d;
      std::string path;
      EXPECT_EQ(0u, Load(c.content, &d, &path)) << c.content;
      EXPECT_STREQ(c.driver, d.driver) << c.content;
      EXPECT_STREQ(c.name, d.name) << c.content;
   }
}

TEST(KvLoadConfig, BadFilesFailWithoutCuttingAnything)
{
   const std::string cases[] = {
      "DBName = 12345678\n",        // one byte too long for its buffer
      "Unknown = 1\n",
      "DBName\n",
      "= value\n",
      "DBName = \"open\n",
      "DBName = x\nDBDriver = " "0123456789abcdefXYZ\n",
      "DBName = \"x\"# no blank before the comment\n",
      "DBName = \"x\" y\n",
      std::string("DBName = 1234\0" "567\n", 18),        // NUL: refused, not read as "1234"
      std::string("DBDriver = a\n\0\n", 15),
      "DBDriver = a\n\xEF\xBB\xBF" "DBName = b\n",        // a byte-order mark only counts at the start
   };
   for (const std::string &content : cases)
   {
      Destinations d;
      std::string path;
      EXPECT_NE(0u, Load(content, &d, &path)) << content;
      EXPECT_STRNE("1234567", d.name) << "value was cut: " << content;
   }
   const ConfigTemplateEntry none[] = {{"", CT_END_OF_LIST, 0, 0, 0, 0, nullptr}};
   EXPECT_NE(0u, KvLoadConfig("/nonexistent/k.conf", "", none, 1));
}

// A FIFO would block the open until a writer came, a device could be read
// forever: anything but a regular file is refused before it is read. The
// same holds for files loaded whole (batch and init files).
TEST(KvLoadConfig, OnlyRegularFiles)
{
   TempDir dir;
   std::string fifo = dir.File("fifo");
   ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
   const ConfigTemplateEntry none[] = {{"", CT_END_OF_LIST, 0, 0, 0, 0, nullptr}};
   for (const std::string &path : {fifo, std::string("/dev/zero"), std::string("/dev/null"), dir.path()})
   {
      ::testing::internal::CaptureStderr();
      EXPECT_NE(0u, KvLoadConfig(path.c_str(), "", none, 1)) << path;
      uint32_t size = 0;
      EXPECT_EQ(nullptr, LoadFile(path.c_str(), &size)) << path;
      EXPECT_EQ(path + ": not a regular file\n" + path + ": not a regular file\n",
                ::testing::internal::GetCapturedStderr());
   }
}

TEST(LoadFile, WholeFileWithItsSize)
{
   TempDir dir;
   std::string content("a;b\0c", 5);
   std::string path = dir.Write("f.sql", content);
   uint32_t size = 0;
   char *data = LoadFile(path.c_str(), &size);
   ASSERT_NE(nullptr, data);
   EXPECT_EQ(5u, size);
   EXPECT_EQ(content, std::string(data, size));
   free(data);

   path = dir.Write("empty.sql", "");
   data = LoadFile(path.c_str(), &size);
   ASSERT_NE(nullptr, data);
   EXPECT_EQ(0u, size);
   free(data);

   EXPECT_EQ(nullptr, LoadFile(dir.File("missing").c_str(), &size));
   EXPECT_EQ(nullptr, LoadFile(dir.path().c_str(), &size));  // a directory is not a file
}

TEST(TranslateStr, ReplacesEveryOccurrenceInPlace)
{
   struct Case
   {
      const char *text, *macro, *replacement, *expected;
   } cases[] = {
      {"a $SQL:TEXT b $SQL:TEXT", "$SQL:TEXT", "varchar", "a varchar b varchar"},
      {"$SQL:INT64$SQL:INT64", "$SQL:INT64", "bigint", "bigintbigint"},
      {"'$SQL:TEXT'", "$SQL:TEXT", "clob", "'clob'"},  // textual, also inside quotes
      {"no macro", "$SQL:TEXT", "text", "no macro"},
      {"$SQL:TEX", "$SQL:TEXT", "text", "$SQL:TEX"},
      {"", "$SQL:TEXT", "text", ""},
   };
   for (const Case &c : cases)
   {
      char buffer[64];
      strcpy(buffer, c.text);
      EXPECT_TRUE(TranslateStr(buffer, c.macro, c.replacement));
      EXPECT_STREQ(c.expected, buffer) << c.text;
   }
   char buffer[16] = "$A $A";
   EXPECT_FALSE(TranslateStr(buffer, "$A", "longer"));  // the text can never grow
   EXPECT_STREQ("$A $A", buffer);
}

TEST(Uuid, RandomVersion4LowerCase)
{
   std::set<std::string> seen;
   for (int i = 0; i < 200; i++)
   {
      uuid_t u;
      uuid_generate(u);
      char text[64];
      std::string s = uuid_to_string(u, text);
      ASSERT_EQ(36u, s.size()) << s;
      for (size_t k = 0; k < s.size(); k++)
      {
         if (k == 8 || k == 13 || k == 18 || k == 23)
            EXPECT_EQ('-', s[k]) << s;
         else
            EXPECT_TRUE(strchr("0123456789abcdef", s[k]) != nullptr) << s;
      }
      EXPECT_EQ('4', s[14]) << s;
      EXPECT_TRUE(strchr("89ab", s[19]) != nullptr) << s;
      seen.insert(s);
   }
   EXPECT_EQ(200u, seen.size());
}

}  // namespace
