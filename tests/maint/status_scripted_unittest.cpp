// The status command when a read fails, through the scripted driver: no
// engine fails a plain select on demand.
#include <string>
#include <vector>

#include "tests/support/harness.h"
#include "tests/support/scripted.h"

namespace {

TEST(StatusScriptedTest, FailedReadsAreFactsAndExit7)
{
   const std::string head = kBanner + "Driver: scripted\nDialect: PGSQL\n";
   struct Case
   {
      std::string script;
      std::string facts;
      std::string jsonPart;   // must appear in the JSON document
   } cases[] = {
      {"fail SELECT var_value FROM config WHERE var_name='DBFormatVersion' => no such table\n"
       "select SELECT var_value FROM config WHERE var_name='DBLockStatus' => UNLOCKED\n",
       "Format version: unreadable\nTarget format version: 83\nUpgrade steps pending: unknown\nLock: not locked\n",
       "\"format_version\":null"},
      {"select SELECT var_value FROM config WHERE var_name='DBFormatVersion' => 83\n"
       "fail SELECT var_value FROM config WHERE var_name='DBLockStatus' => timeout\n",
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\nLock: unreadable\n",
       "\"locked\":null"},
      // Locked, and the info text cannot be read: the lock state is not complete.
      {"select SELECT var_value FROM config WHERE var_name='DBFormatVersion' => 83\n"
       "select SELECT var_value FROM config WHERE var_name='DBLockStatus' => srv\n"
       "fail SELECT var_value FROM config WHERE var_name='DBLockInfo' => timeout\n",
       "Format version: 83\nTarget format version: 83\nUpgrade steps pending: 0\nLock: unreadable\n",
       "\"complete\":false"},
   };
   for (const Case &c : cases)
   {
      ScriptedDatabase db("PGSQL", c.script);
      ToolRun run = db.Run({"status"});
      EXPECT_EQ(head + c.facts, run.out) << c.script;
      EXPECT_EQ(7, run.exitCode) << c.script;
      // Read-only: selects only, no transaction, no statement.
      for (const std::string &call : db.Calls())
         EXPECT_EQ(0u, call.rfind("select ", 0)) << call;

      ToolRun json = db.Run({"--json", "status"});
      EXPECT_EQ(7, json.exitCode) << c.script;
      EXPECT_NE(std::string::npos, json.out.find(c.jsonPart)) << json.out;
      EXPECT_NE(std::string::npos, json.out.find("\"complete\":false")) << json.out;
   }
}

}  // namespace
