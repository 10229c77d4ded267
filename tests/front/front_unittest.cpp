// The front end before it reaches a database: banner, usage, options, configuration, driver loading.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

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
   "   status       : Show format version, pending upgrade steps and lock\n"
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
   "   --dry-run    : Upgrade only - run every step, then undo all changes.\n"
   "   --json       : Status only - print the status as one JSON document.\n"
   "\n";

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
      // The long forms are a successful run.
      {{"--help"}, kBanner + kUsageText, 0},
      {{"--version"}, kBanner, 0},
      {{"--version", "check"}, kBanner, 0},
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
      // The two long options count wherever they stand, and only with their command.
      {{"-c", kNoSuchConfig, "upgrade", "--dry-run"}, kBanner + "Error loading configuration file\n", 2},
      {{"--dry-run", "-c", kNoSuchConfig, "upgrade"}, kBanner + "Error loading configuration file\n", 2},
      {{"-c", kNoSuchConfig, "check", "--dry-run"},
       kBanner + "Option --dry-run is only valid with the upgrade command. Type kvdbmgr -h for command line syntax.\n",
       1},
      {{"--dry-run", "-c", kNoSuchConfig, "status"},
       kBanner + "Option --dry-run is only valid with the upgrade command. Type kvdbmgr -h for command line syntax.\n",
       1},
      {{"-c", kNoSuchConfig, "status"}, kBanner + "Error loading configuration file\n", 2},
      // Under --json standard output holds the JSON document only: messages go to standard error.
      {{"-c", kNoSuchConfig, "status", "--json"}, "", 2},
      {{"--json", "-c", kNoSuchConfig, "upgrade"}, "", 1},
      // A configuration file named like an option is still a file name.
      {{"-c", "--json", "status"}, kBanner + "Error loading configuration file\n", 2},
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

// What standard error says when the tool cannot go on; standard output keeps
// its documented lines.
TEST(FrontEnd, ErrorsSayWhatToDo)
{
   if (access("/etc/korveld.conf", F_OK) == 0)
      GTEST_SKIP() << "/etc/korveld.conf exists on this machine";
   TempDir dir;
   // The Windows default path is never opened: a file of that name in the
   // current directory (anyone's to write) is not read.
   dir.Write("C:\\korveld.conf", "DBDriver = /nonexistent/evil.so\n");
   char cwd[4096];
   ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
   ASSERT_EQ(0, chdir(dir.path().c_str()));
   ToolRun run = RunTool({"unlock"});
   ASSERT_EQ(0, chdir(cwd));
   EXPECT_EQ(kBanner + "Error loading configuration file\n", run.out);
   EXPECT_EQ(2, run.exitCode);
   EXPECT_EQ("No configuration file: no -c <file> was given, KORVELD_CONFIG is not set, and /etc/korveld.conf "
             "does not exist. Put the server's configuration file at /etc/korveld.conf, or give its path with "
             "-c <file> or in KORVELD_CONFIG.\n",
             run.err);

   // Configuration paths that are not regular files are refused at once.
   std::string fifo = dir.File("fifo");
   ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
   for (const std::string &path : {fifo, std::string("/dev/zero"), dir.path()})
   {
      run = RunTool({"-c", path, "unlock"});
      EXPECT_EQ(kBanner + "Error loading configuration file\n", run.out) << path;
      EXPECT_EQ(2, run.exitCode) << path;
      EXPECT_EQ(path + ": not a regular file\n", run.err);
   }
   std::string config = dir.Write("nul.conf", std::string("DBDriver = sqlite\nDBName = a\0b\n", 31));
   run = RunTool({"-c", config, "unlock"});
   EXPECT_EQ(kBanner + "Error loading configuration file\n", run.out);
   EXPECT_EQ(config + ":2: NUL byte in line\n", run.err);

   // An unknown driver: the drivers that are there are named too.
   config = dir.Write("k.conf", "DBDriver = sqlight\nDBName = x\n");
   run = RunTool({"-c", config, "unlock"});
   EXPECT_EQ(kBanner + "Unable to load and initialize database driver \"sqlight\"\n", run.out);
   EXPECT_EQ(3, run.exitCode);
   const std::string found = "Drivers found in " + std::string(KV_BINARY_DIR) + "/bin:";
   size_t at = run.err.find(found);
   ASSERT_NE(std::string::npos, at) << run.err;
   std::string line = run.err.substr(at, run.err.find('\n', at) - at) + " ";
   EXPECT_NE(std::string::npos, line.find(" sqlite ")) << line;

   // A SQLite database that does not exist is a mistyped DBName for every
   // command that does not fill a database: nothing is created.
   std::string missing = dir.File("missing.db");
   config = dir.Write("k.conf", "DBDriver = sqlite\nDBName = " + missing + "\n");
   for (const char *command : {"check", "unlock", "reindex", "upgrade"})
   {
      run = RunTool({"-c", config, command});
      EXPECT_EQ(kBanner + "Unable to connect to database " + missing + "@ as \n", run.out) << command;
      EXPECT_EQ(4, run.exitCode) << command;
      EXPECT_EQ("SQLite database file " + missing + " does not exist; only init and batch create one\n", run.err)
         << command;
      EXPECT_NE(0, access(missing.c_str(), F_OK)) << command << " created the database file";
   }
   // A batch or init file that is not a regular file is refused as well.
   run = RunTool({"-c", config, "init", fifo});
   EXPECT_EQ(kBanner + "Initializing database...\nERROR: Cannot load SQL command file " + fifo + "\nDatabase initialization failed\n", run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(fifo + ": not a regular file\n", run.err);
}

}  // namespace
