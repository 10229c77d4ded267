// The status command: the facts it prints, as text and as JSON, and that it
// changes nothing.
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/upgrade.h"

namespace {

// A strict reader for the flat JSON object status prints: string, integer,
// true, false and null values. Values are kept as their JSON text (strings
// decoded). Fails the test on anything else, or on trailing text.
std::map<std::string, std::string> ParseFlatJson(const std::string &text)
{
   std::map<std::string, std::string> values;
   size_t p = 0;
   auto fail = [&](const char *why) {
      ADD_FAILURE() << why << " at " << p << " in: " << text;
      values.clear();
      return values;
   };
   auto readString = [&](std::string *out) {
      if (text[p] != '"')
         return false;
      for (p++; p < text.size() && text[p] != '"'; p++)
      {
         unsigned char c = (unsigned char)text[p];
         if (c < 0x20)
            return false;
         if (c != '\\')
         {
            *out += (char)c;
            continue;
         }
         char e = text[++p];
         if (e == 'u')
         {
            *out += (char)std::stoi(text.substr(p + 1, 4), nullptr, 16);
            p += 4;
         }
         else if (e == '"' || e == '\\' || e == '/')
            *out += e;
         else
            return false;
      }
      return p++ < text.size();
   };
   if (text.empty() || text[p++] != '{')
      return fail("no object");
   while (true)
   {
      std::string key, value;
      if (!readString(&key) || text[p++] != ':')
         return fail("bad key");
      if (text[p] == '"')
      {
         if (!readString(&value))
            return fail("bad string");
         value = "\"" + value + "\"";
      }
      else
      {
         size_t end = text.find_first_of(",}", p);
         value = text.substr(p, end - p);
         bool number = !value.empty() && value.find_first_not_of("-0123456789") == std::string::npos;
         if (!number && value != "true" && value != "false" && value != "null")
            return fail("bad value");
         p = end;
      }
      if (values.count(key) != 0)
         return fail("duplicate key");
      values[key] = value;
      if (text[p] == '}')
         break;
      if (text[p++] != ',')
         return fail("no comma");
   }
   if (text.substr(p) != "}\n")
      return fail("trailing text");
   return values;
}

// What status says about pending steps from |version|, with the first version
// that has no procedure yet, if any.
std::string PendingLine(int version)
{
   for (int v = version; v < 83; v++)
   {
      bool found = false;
      for (const UpgradeStep &row : UpgradeStepTable())
         found = found || row.fromVersion == v;
      if (!found)
         return "Upgrade steps pending: " + std::to_string(83 - version) +
                ", but there is no upgrade procedure for version " + std::to_string(v) + "\n";
   }
   return "Upgrade steps pending: " + std::to_string(83 - version) + "\n";
}

class StatusTest : public EngineTest
{
protected:
   std::string Head() const
   {
      return kBanner + "Driver: " + CurrentEngine().name + "\nDialect: " +
             CurrentEngine().syntax + "\n";
   }
};

TEST_F(StatusTest, FactsAsTextAndJson)
{
   struct Case
   {
      const char *version;   // nullptr: no DBFormatVersion row
      const char *lock;      // nullptr: no DBLockStatus row
      const char *info;      // nullptr: no DBLockInfo row
      std::string facts;     // the lines after "Dialect:"
      int exitCode;
      std::map<std::string, std::string> json;   // the keys the case is about
   } cases[] = {
      {"83", "UNLOCKED", "#00",
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\nLock: not locked\n", 0,
       {{"format_version", "83"}, {"pending_steps", "0"}, {"locked", "false"}, {"lock_owner", "null"},
        {"complete", "true"}}},
      {"69", "UNLOCKED", "#00",
       "Format version: 69\nTarget format version: 83\n" + PendingLine(69) + "Lock: not locked\n", 0,
       {{"format_version", "69"}, {"pending_steps", "14"}, {"format_newer", "false"}}},
      {"14", nullptr, nullptr,
       "Format version: 14\nTarget format version: 83\n" + PendingLine(14) + "Lock: not locked\n", 0,
       {{"format_version", "14"}, {"pending_steps", "69"}, {"locked", "false"}}},
      // The owner is decoded and compared exactly, as unlock does.
      {"83", "srv#2D01", "pid 42 #22east#22",
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\n"
       "Lock: locked by server srv-01 [pid 42 \"east\"]\n",
       0, {{"locked", "true"}, {"lock_owner", "\"srv-01\""}, {"lock_info", "\"pid 42 \"east\"\""}}},
      {"83", "unlocked", nullptr,
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\nLock: locked by server unlocked []\n",
       0, {{"locked", "true"}, {"lock_info", "\"\""}}},
      // Control characters stay out of the terminal, and are escaped in JSON.
      {"83", "a#1Bb", "#0D#0A",
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\nLock: locked by server a?b [??]\n",
       0, {{"lock_owner", "\"a\x1b" "b\""}, {"lock_info", "\"\r\n\""}}},
      {"84", "UNLOCKED", "#00",
       "Format version: 84\nTarget format version: 83\n"
       "Upgrade steps pending: none, the database format is newer than this tool's\nLock: not locked\n",
       0, {{"format_version", "84"}, {"format_newer", "true"}}},
      // Without a version the facts are incomplete: exit 7.
      {nullptr, "UNLOCKED", "#00",
       "Format version: missing\nTarget format version: 83\nUpgrade steps pending: unknown\nLock: not locked\n", 7,
       {{"format_version", "null"}, {"pending_steps", "null"}, {"complete", "false"}}},
   };
   db().CreateConfigTable();
   for (const Case &c : cases)
   {
      std::string label = std::string("version ") + (c.version ? c.version : "(none)") + ", lock " +
                          (c.lock ? c.lock : "(none)");
      auto set = [&](const char *name, const char *value) {
         if (value != nullptr)
            db().SetConfig(name, value);
         else
            db().DeleteConfig(name);
      };
      set("DBFormatVersion", c.version);
      set("DBLockStatus", c.lock);
      set("DBLockInfo", c.info);
      std::string before = DatabaseDump(db());

      ToolRun run = db().Run({"status"});
      EXPECT_EQ(Head() + c.facts, run.out) << label;
      EXPECT_EQ(c.exitCode, run.exitCode) << label;
      EXPECT_EQ("", run.err) << label;

      // --json after or before the command word: the same facts, and nothing
      // but the document on standard output.
      for (std::vector<std::string> args : {std::vector<std::string>{"status", "--json"},
                                            std::vector<std::string>{"--json", "status"}})
      {
         ToolRun json = db().Run(args);
         EXPECT_EQ(c.exitCode, json.exitCode) << label;
         EXPECT_EQ(kBanner, json.err) << label;
         std::map<std::string, std::string> values = ParseFlatJson(json.out);
         EXPECT_EQ("\"" + std::string(CurrentEngine().name) + "\"", values["driver"]) << label;
         EXPECT_EQ("\"" + std::string(CurrentEngine().syntax) + "\"", values["dialect"]) << label;
         EXPECT_EQ("83", values["target_format_version"]) << label;
         for (const auto &expected : c.json)
            EXPECT_EQ(expected.second, values[expected.first]) << label << ": " << expected.first;
      }
      EXPECT_EQ(before, DatabaseDump(db())) << label;
   }
}

TEST_F(StatusTest, NoConfigTableIsADialectFailure)
{
   ToolRun run = db().Run({"status"});
   EXPECT_EQ(kBanner + "Unable to determine database syntax\n", run.out);
   EXPECT_EQ(5, run.exitCode);
   ToolRun json = db().Run({"status", "--json"});
   EXPECT_EQ("", json.out);
   EXPECT_EQ(5, json.exitCode);
}

// A full schema, locked: status neither takes nor clears the lock, and leaves
// every table as it was, under -f and -t too.
TEST_F(StatusTest, ChangesNothingOnAFullDatabase)
{
   LoadFormat69(db());
   db().SetConfig("DBLockStatus", "srv-01");
   std::string before = DatabaseDump(db());
   ToolRun run = db().Run({"-f", "-t", "status"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Lock: locked by server srv-01 [")) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find(">>>")) << run.out;
   EXPECT_EQ(before, DatabaseDump(db()));
}

// The README shows status on the format-69 sample: what it shows is what the
// tool prints there, as text and as JSON.
TEST_F(StatusTest, TheReadmeShowsWhatTheSamplePrints)
{
   if (db().engine() != "sqlite")
      GTEST_SKIP() << "the README's sample is the SQLite one";
   std::ifstream in(std::string(KV_SOURCE_DIR) + "/README.md");
   std::stringstream readme;
   readme << in.rdbuf();
   std::string text = readme.str();
   size_t start = text.find("```\nDriver: sqlite\n");
   ASSERT_NE(std::string::npos, start);
   start += 4;
   std::string shown = text.substr(start, text.find("```", start) - start);
   size_t json = text.find("`{\"driver\"");
   ASSERT_NE(std::string::npos, json);
   std::string shownJson = text.substr(json + 1, text.find("}`", json) - json) + "\n";

   LoadFormat69(db());
   ToolRun run = db().Run({"status"});
   EXPECT_EQ(kBanner + shown, run.out);
   EXPECT_EQ(shownJson, db().Run({"status", "--json"}).out);
}

}  // namespace
