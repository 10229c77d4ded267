// Command line, configuration and connection.
#include "front/front.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check/check.h"
#include "db/config_vars.h"
#include "db/dialects.h"
#include "db/settings.h"
#include "lib/korvel/korvel.h"
#include "lib/kvsrv/kvsrv.h"
#include "lib/platform/config_path.h"
#include "maint/batch.h"
#include "maint/init.h"
#include "maint/lock.h"
#include "maint/reindex.h"
#include "maint/status.h"
#include "upgrade/dry_run.h"
#include "upgrade/upgrade.h"

namespace {

// The CodePage keyword of the server configuration: accepted and stored, not used.
char codePage[260] = "ACP";

// The keywords read from the server configuration file.
const ConfigTemplateEntry ConfigTemplate[] = {
   {"CodePage", CT_STRING, 0, 0, sizeof(codePage), 0, codePage},
   {"CreateCrashDumps", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"DBDriver", CT_STRING, 0, 0, sizeof(g_szDbDriver), 0, g_szDbDriver},
   {"DBDrvParams", CT_STRING, 0, 0, sizeof(g_szDbDrvParams), 0, g_szDbDrvParams},
   {"DBLogin", CT_STRING, 0, 0, sizeof(g_szDbLogin), 0, g_szDbLogin},
   {"DBName", CT_STRING, 0, 0, sizeof(g_szDbName), 0, g_szDbName},
   {"DBPassword", CT_STRING, 0, 0, sizeof(g_szDbPassword), 0, g_szDbPassword},
   {"DBServer", CT_STRING, 0, 0, sizeof(g_szDbServer), 0, g_szDbServer},
   {"DumpDirectory", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"LogFailedSQLQueries", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"LogFile", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"Module", CT_IGNORE, 0, 0, 0, 0, nullptr},
   {"", CT_END_OF_LIST, 0, 0, 0, 0, nullptr}};

const char kBanner[] = "Korvel Database Manager Version " KV_VERSION "\n\n";

const char kUsage[] =
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

// One row per command: its word, whether it needs a file argument, whether
// the dialect is detected before it runs, whether it may create an embedded
// database that does not exist yet, and the function that runs it.
struct CommandRow
{
   const char *name;
   bool needsFile;
   bool detectsDialect;
   bool createsDatabase;
   bool (*runWithFile)(const char *file);
   bool (*run)();
};

const CommandRow kCommands[] = {
   {"batch", true, true, true, RunBatchCommand, nullptr},
   {"check", false, true, false, nullptr, RunCheckCommand},
   {"reindex", false, true, false, nullptr, RunReindexCommand},
   {"upgrade", false, true, false, nullptr, RunUpgradeCommand},
   {"unlock", false, true, false, nullptr, RunUnlockCommand},
   {"status", false, true, false, nullptr, RunStatusCommand},
   {"init", true, false, true, RunInitCommand, nullptr},
};

const CommandRow *FindCommand(const char *word)
{
   for (const CommandRow &row : kCommands)
      if (strcmp(row.name, word) == 0)
         return &row;
   return nullptr;
}

// Reads DBSyntax quietly and sets g_nSyntax. Returns the exit code to stop
// with, or EXIT_DONE.
int DetectDialect()
{
   std::string stored;
   ConfigRead read = ReadConfigQuietly("DBSyntax", &stored);
   if (read == CONFIG_READ_FAILED)
   {
      printf("Unable to determine database syntax\n");
      fflush(stdout);
      fprintf(stderr,
              "The database \"%s\" has no readable config table: either DBName names the wrong database, "
              "or the database is not initialised yet (kvdbmgr init <schema file>)\n",
              g_szDbName);
      return EXIT_SYNTAX_QUERY;
   }
   // Room for every dialect name; a longer value is cut (before decoding)
   // and named in the message as far as it fits.
   char text[16] = "UNKNOWN";
   if (read == CONFIG_FOUND)
   {
      snprintf(text, sizeof(text), "%s", stored.c_str());
      DecodeSQLString(text);
   }
   int syntax = FindDialect(text);
   if (syntax >= 0)
   {
      g_nSyntax = syntax;
      return EXIT_DONE;
   }
   printf("Unknown database syntax %s\n", text);
   return EXIT_UNKNOWN_SYNTAX;
}

// The SQLite driver creates a missing database file when it connects. Only
// the commands that fill a database may do that: for any other a missing file
// is a mistyped DBName, and an empty file left behind would hide it.
bool SqliteFileMissing()
{
   if (strcmp(DBDriverName(), "sqlite") != 0 || g_szDbName[0] == 0 || strcmp(g_szDbName, ":memory:") == 0)
      return false;
   return access(g_szDbName, F_OK) != 0 && errno == ENOENT;
}

// Nothing more can be done on a connection the server has dropped: asking on
// or reporting every later statement as failed would only bury the cause. The
// server rolls back the transaction that was open.
void StopOnLostConnection(const char *error)
{
   printf("Connection to the database lost (%s); command stopped\n", error);
   fflush(stdout);
   exit(EXIT_COMMAND_FAILED);
}

// Every way out passes here, after the connection is closed: a dry run's
// copy of the database goes with it.
int Finish(int code)
{
   RemoveDryRunCopy();
   fflush(stdout);
   return code;
}

// Takes --dry-run and --json out of the command line, wherever they stand, and
// sets their flags; the rest keeps its order for the option parser, which stops
// at the command word. A user who types "upgrade --dry-run" must never get a
// real upgrade. The argument of -c is left alone, whatever it reads.
std::vector<char *> TakeLongOptions(int argc, char *argv[])
{
   std::vector<char *> rest;
   for (int i = 0; i < argc; i++)
   {
      bool argumentOfC = i > 0 && strcmp(argv[i - 1], "-c") == 0;
      if (!argumentOfC && strcmp(argv[i], "--dry-run") == 0)
         g_bDryRun = true;
      else if (!argumentOfC && strcmp(argv[i], "--json") == 0)
         g_bJsonOutput = true;
      else
         rest.push_back(argv[i]);
   }
   rest.push_back(nullptr);
   return rest;
}

// The long options belong to one command each.
bool LongOptionsFit(const CommandRow *command)
{
   const char *option = nullptr, *owner = nullptr;
   if (g_bDryRun && strcmp(command->name, "upgrade") != 0)
      option = "--dry-run", owner = "upgrade";
   else if (g_bJsonOutput && strcmp(command->name, "status") != 0)
      option = "--json", owner = "status";
   if (option == nullptr)
      return true;
   printf("Option %s is only valid with the %s command. Type kvdbmgr -h for command line syntax.\n", option, owner);
   return false;
}

}  // namespace

int KvdbmgrMain(int argc, char *argv[])
{
   std::vector<char *> args = TakeLongOptions(argc, argv);
   argc = (int)args.size() - 1;
   argv = args.data();
   // Scripts read the JSON document from standard output: the banner and
   // every other line go to standard error.
   if (g_bJsonOutput)
      DivertOutputForJson();
   printf("%s", kBanner);

   // The long forms other database consoles answer; unlike -h and -v they
   // are a successful run.
   if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "--version") == 0))
   {
      if (strcmp(argv[1], "--help") == 0)
         printf("%s", kUsage);
      return Finish(EXIT_DONE);
   }

   // The built-in default (the usage text's C:\korveld.conf) is a Windows
   // path; here it would be a file of that name in the current directory,
   // which anyone could have put there. Without -c, the environment or
   // /etc/korveld.conf there is no configuration file.
   char configFile[260] = "";
   LookupConfigPath(configFile, sizeof(configFile));

   bool proceed = true;
   opterr = 1;
   int ch;
   while ((ch = KvGetOpt(argc, argv, "c:fhIMtvX")) != -1)
   {
      switch (ch)
      {
         case 'c':
            snprintf(configFile, sizeof(configFile), "%s", optarg);
            break;
         case 'f':
            g_bAutoConfirm = true;
            break;
         case 'h':
            printf("%s", kUsage);
            proceed = false;
            break;
         case 'I':
            g_pszTableType = " ENGINE=InnoDB";
            break;
         case 'M':
            g_pszTableType = " ENGINE=MyISAM";
            break;
         case 't':
            g_bShowQueries = true;
            break;
         case 'v':
            proceed = false;
            break;
         case 'X':
            g_bSkipErrors = true;
            break;
         case '?':
            proceed = false;
            break;
         default:
            break;
      }
   }
   if (!proceed)
      return Finish(EXIT_USAGE);

   if (optind == argc)
   {
      printf("Command missing. Type kvdbmgr -h for command line syntax.\n");
      return Finish(EXIT_USAGE);
   }
   const CommandRow *command = FindCommand(argv[optind]);
   if (command == nullptr)
   {
      printf("Invalid command \"%s\". Type kvdbmgr -h for command line syntax.\n", argv[optind]);
      return Finish(EXIT_USAGE);
   }
   if (!LongOptionsFit(command))
      return Finish(EXIT_USAGE);
   if (command->needsFile && argc - optind < 2)
   {
      printf("Required command argument missing\n");
      return Finish(EXIT_USAGE);
   }
   const char *file = command->needsFile ? argv[optind + 1] : nullptr;

   fflush(stdout);
   if (configFile[0] == 0)
   {
      printf("Error loading configuration file\n");
      fflush(stdout);
      fprintf(stderr,
              "No configuration file: no -c <file> was given, KORVELD_CONFIG is not set, and /etc/korveld.conf "
              "does not exist. Put the server's configuration file at /etc/korveld.conf, or give its path with "
              "-c <file> or in KORVELD_CONFIG.\n");
      return Finish(EXIT_CONFIG);
   }
   if (KvLoadConfig(configFile, "", ConfigTemplate, 1) != 0)
   {
      printf("Error loading configuration file\n");
      return Finish(EXIT_CONFIG);
   }

   if (!DBInit(0, 0, 0, nullptr))
   {
      printf("Unable to load and initialize database driver \"%s\"\n", g_szDbDriver);
      return Finish(EXIT_DRIVER);
   }

   if (!command->createsDatabase && SqliteFileMissing())
   {
      printf("Unable to connect to database %s@%s as %s\n", g_szDbName, g_szDbServer, g_szDbLogin);
      fflush(stdout);
      fprintf(stderr, "SQLite database file %s does not exist; only init and batch create one\n", g_szDbName);
      DBUnloadDriver();
      return Finish(EXIT_CONNECT);
   }

   if (strcmp(DBDriverName(), "sqlite") == 0 && g_szDbName[0] != 0 && strcmp(g_szDbName, ":memory:") != 0)
      RemoveStaleDryRunCopies(g_szDbName);
   if (g_bDryRun && strcmp(DBDriverName(), "sqlite") == 0 && !PrepareDryRunCopy())
   {
      DBUnloadDriver();
      return Finish(EXIT_COMMAND_FAILED);
   }

   DBSetConnectionLostHandler(StopOnLostConnection);
   g_hConnection = DBConnect();
   if (g_hConnection == nullptr)
   {
      printf("Unable to connect to database %s@%s as %s\n", g_szDbName, g_szDbServer, g_szDbLogin);
      DBUnloadDriver();
      return Finish(EXIT_CONNECT);
   }

   if (command->detectsDialect)
   {
      int code = DetectDialect();
      if (code != EXIT_DONE)
      {
         DBDisconnect(g_hConnection);
         g_hConnection = nullptr;
         DBUnloadDriver();
         return Finish(code);
      }
   }

   bool (*run)() = g_bDryRun ? RunUpgradeDryRun : command->run;
   bool succeeded = command->needsFile ? command->runWithFile(file) : run();

   DBDisconnect(g_hConnection);
   g_hConnection = nullptr;
   DBUnloadDriver();
   return Finish(succeeded ? EXIT_DONE : EXIT_COMMAND_FAILED);
}
