// The front end before it reaches a database: banner, usage, options, configuration, driver loading.
#include <string>

#include "tests/support/harness.h"

namespace {

const std::string kUsageText =
   "Usage: kvdbmgr [<options>] <command>\n"
   "Valid commands are:\n"
   "   batch <file> : Run SQL batch file\n"
   "   check        : Check database for errors\n"
   "   init <file>  : Initialize database\n"
   "   reindex      : Reindex database\n"
   "   unlock       : Forced database unlock\n"
   "   upgrade      : Upgrade database to new version\n"
   "Valid options are:\n"
   "   -c <config>  : Use alternate configuration file. Default is C:\\korveld.conf\n"
   "   -f           : Force repair - do not ask for confirmation.\n"
   "   -h           : Display help and exit.\n"
   "   -I           : MySQL only - specify TYPE=InnoDB for new tables.\n"
   "   -M           : MySQL only - specify TYPE=MyISAM for new tables.\n"
   "   -t           : Enable trace moded (show executed SQL queries).\n"
   "   -v           : Display version and exit.\n"
   "   -X           : Ignore SQL errors when upgrading (USE WITH CARE!!!)\n"
   "\n";

const std::string kBanner = kBannerText;
const std::string kNoSuchConfig = "/nonexistent/korveld.conf";

// Command lines that stop before the configuration file is read.
TEST(FrontEnd, CommandLineTable)
{
   struct Case
   {
      std::vector<std::string> args;
      std::string out;
      int exitCode;
   } cases[] = {
      {{"-h"}, kBanner + kUsageText, 1},
      {{"-h", "-h"}, kBanner + kUsageText + kUsageText, 1},
      {{"-h", "check"}, kBanner + kUsageText, 1},
      {{"-v"}, kBanner, 1},
      {{"-v", "check"}, kBanner, 1},
      {{}, kBanner + "Command missing. Type kvdbmgr -h for command line syntax.\n", 1},
      {{"-z", "check"}, kBanner, 1},
      {{"-c"}, kBanner, 1},
      {{"-c", kNoSuchConfig, "CHECK"},
       kBanner + "Invalid command \"CHECK\". Type kvdbmgr -h for command line syntax.\n", 1},
      {{"-c", kNoSuchConfig, "frobnicate"},
       kBanner + "Invalid command \"frobnicate\". Type kvdbmgr -h for command line syntax.\n", 1},
      {{"-c", kNoSuchConfig, "init"}, kBanner + "Required command argument missing\n", 1},
      {{"-c", kNoSuchConfig, "batch"}, kBanner + "Required command argument missing\n", 1},
      // Options after the command word are not options: parsing stops at the command.
      {{"-c", kNoSuchConfig, "batch", "-h"}, kBanner + "Error loading configuration file\n", 2},
      {{"-c", kNoSuchConfig, "unlock"}, kBanner + "Error loading configuration file\n", 2},
   };
   for (const Case &c : cases)
   {
      std::string line;
      for (const std::string &a : c.args)
         line += a + " ";
      ToolRun run = RunTool(c.args);
      EXPECT_EQ(c.out, run.out) << "kvdbmgr " << line;
      EXPECT_EQ(c.exitCode, run.exitCode) << "kvdbmgr " << line;
   }
}

TEST(FrontEnd, ParserReportsUnknownOptionOnStderr)
{
   ToolRun run = RunTool({"-z"});
   EXPECT_NE(std::string::npos, run.err.find("invalid option")) << run.err;
   run = RunTool({"-c"});
   EXPECT_NE(std::string::npos, run.err.find("requires an argument")) << run.err;
}

TEST(FrontEnd, ConfigurationPathLookup)
{
   TempDir dir;
   std::string config = dir.Write("env.conf", "DBDriver = nosuchdriver\n");
   // KORVELD_CONFIG replaces the built-in default...
   ToolRun run = RunTool({"unlock"}, "", {"KORVELD_CONFIG=" + config});
   EXPECT_EQ(kBanner + "Unable to load and initialize database driver \"nosuchdriver\"\n", run.out);
   EXPECT_EQ(3, run.exitCode);
   // ...and -c replaces both.
   run = RunTool({"-c", kNoSuchConfig, "unlock"}, "", {"KORVELD_CONFIG=" + config});
   EXPECT_EQ(kBanner + "Error loading configuration file\n", run.out);
   EXPECT_EQ(2, run.exitCode);
   EXPECT_NE(std::string::npos, run.err.find(kNoSuchConfig)) << run.err;
}

TEST(FrontEnd, ConfigurationErrorsNameFileAndLine)
{
   TempDir dir;
   struct Case
   {
      const char *content;
      const char *expectInErr;
   } cases[] = {
      {"DBDriver = sqlite\nDBFrobnicate = 1\n", ":2: unknown keyword DBFrobnicate"},
      {"# comment\n\nDBDriver sqlite\n", ":3: expected"},
      {"DBLogin = 0123456789012345678901234567890123456789012345678901234567890123\n", ":1: value too long for DBLogin"},
      {"DBName = \"unterminated\n", ":1: unterminated"},
   };
   for (const Case &c : cases)
   {
      std::string config = dir.Write("bad.conf", c.content);
      ToolRun run = RunTool({"-c", config, "unlock"});
      EXPECT_EQ(kBanner + "Error loading configuration file\n", run.out) << c.content;
      EXPECT_EQ(2, run.exitCode) << c.content;
      EXPECT_NE(std::string::npos, run.err.find(config + c.expectInErr)) << c.content << "\n" << run.err;
   }
}

TEST(FrontEnd, MissingDriverNamesEveryPathTried)
{
   TempDir dir;
   std::string config = dir.Write("k.conf", "DBDriver = nosuch\nDBName = x\n");
   ToolRun run = RunTool({"-c", config, "unlock"}, "", {"KORVEL_DRIVER_DIR=" + dir.path()});
   EXPECT_EQ(kBanner + "Unable to load and initialize database driver \"nosuch\"\n", run.out);
   EXPECT_EQ(3, run.exitCode);
   EXPECT_NE(std::string::npos, run.err.find(dir.path() + "/nosuch.ddr: not found")) << run.err;
}

TEST(FrontEnd, SqliteDatabaseThatCannotBeOpened)
{
   TempDir dir;
   std::string config =
      dir.Write("k.conf", "DBDriver = sqlite.ddr\nDBName = " + dir.path() + "/missing/dir/k.db\nDBLogin = admin\n"
                          "DBServer = here\n");
   ToolRun run = RunTool({"-c", config, "unlock"});
   EXPECT_EQ(kBanner + "Unable to connect to database " + dir.path() + "/missing/dir/k.db@here as admin\n", run.out);
   EXPECT_EQ(4, run.exitCode);
}

}  // namespace
