// The upgrade's dry run, end to end: the real run's output, and a database
// that is exactly as it was afterwards, also when a step fails or the run is
// killed.
#include <dirent.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/dry_run.h"

namespace {

const std::string kUndone = "Dry run: every change has been undone, the database is as it was\n";

bool DryRunsHere()
{
   return std::string(CurrentEngine().name) == "sqlite" || std::string(CurrentEngine().name) == "pgsql";
}

class DryRunTest : public EngineTest
{
protected:
   // What proves the database unchanged: on SQLite the file itself, byte for
   // byte; elsewhere every table's contents and the schema.
   std::string Snapshot()
   {
      if (db().engine() == "sqlite")
         return FileBytes(db().dir().File("korvel.db"));
      return DatabaseDump(db());
   }

   // Files in the database's folder left by dry runs.
   std::vector<std::string> Copies()
   {
      std::vector<std::string> found;
      DIR *d = opendir(db().dir().path().c_str());
      while (struct dirent *e = d ? readdir(d) : nullptr)
         if (std::string(e->d_name).find(".dry-run-") != std::string::npos)
            found.push_back(e->d_name);
      if (d != nullptr)
         closedir(d);
      return found;
   }

   // A dry run, then the real upgrade: the dry run prints what the real run
   // prints, plus the closing line, with the same exit code; and until the
   // real run the database is exactly as it was.
   void ExpectDryRunShowsRealRun(const std::vector<std::string> &options, const std::string &label)
   {
      std::string before = Snapshot();
      std::vector<std::string> dryArgs = options;
      dryArgs.push_back("upgrade");
      dryArgs.push_back("--dry-run");
      ToolRun dry = db().Run(dryArgs);
      EXPECT_EQ(before, Snapshot()) << label;
      EXPECT_TRUE(Copies().empty()) << label;

      std::vector<std::string> realArgs = options;
      realArgs.push_back("upgrade");
      ToolRun real = db().Run(realArgs);
      EXPECT_EQ(real.out + kUndone, dry.out) << label;
      EXPECT_EQ(real.exitCode, dry.exitCode) << label;
   }
};

TEST_F(DryRunTest, From69ShowsTheRealRunAndChangesNothing)
{
   if (!DryRunsHere())
      GTEST_SKIP() << "no dry run on " << CurrentEngine().name;
   LoadFormat69(db());
   ExpectDryRunShowsRealRun({"-f"}, "from 69");
   EXPECT_EQ("83", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
}

// From 14 the steps ask a question; piped answers are taken as in a real run.
TEST_F(DryRunTest, From14WithPipedAnswers)
{
   if (!DryRunsHere())
      GTEST_SKIP() << "no dry run on " << CurrentEngine().name;
   LoadFormat14(db());
   std::string before = Snapshot();
   ToolRun dry = db().Run({"--dry-run", "upgrade"}, "yy");
   EXPECT_EQ(before, Snapshot());
   ToolRun real = db().Run({"upgrade"}, "yy");
   EXPECT_EQ(real.out + kUndone, dry.out);
   EXPECT_EQ(real.exitCode, dry.exitCode);
   EXPECT_NE(std::string::npos, dry.out.find("Upgrading from version 14 to 15\n")) << dry.out;
}

// A step that fails: named as usual, rolled back, exit 7, nothing changed,
// not even the steps before it.
TEST_F(DryRunTest, FailingStepIsNamedAndNothingChanges)
{
   if (!DryRunsHere())
      GTEST_SKIP() << "no dry run on " << CurrentEngine().name;
   LoadFormat14(db());
   AddUpgradeStopper(db(), 21);
   std::string before = Snapshot();
   ToolRun dry = db().Run({"-f", "upgrade", "--dry-run"});
   EXPECT_EQ(7, dry.exitCode);
   EXPECT_EQ(before, Snapshot());
   EXPECT_NE(std::string::npos, dry.out.find("Upgrading from version 21 to 22\nSQL query failed")) << dry.out;
   EXPECT_NE(std::string::npos,
             dry.out.find(kRollback + kUndone))
      << dry.out;
   EXPECT_EQ("14", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
}

// The lock is tested as a real upgrade tests it: a running server stops the dry run.
TEST_F(DryRunTest, LockedDatabaseIsRefused)
{
   if (!DryRunsHere())
      GTEST_SKIP() << "no dry run on " << CurrentEngine().name;
   LoadFormat69(db());
   db().SetConfig("DBLockStatus", "srv-01");
   std::string before = Snapshot();
   ToolRun dry = db().Run({"upgrade", "--dry-run"});
   EXPECT_EQ(kStart + "Database is locked\n" + kUndone, dry.out);
   EXPECT_EQ(7, dry.exitCode);
   EXPECT_EQ(before, Snapshot());
}

// Where DDL commits by itself nothing could be undone: refused before anything runs.
TEST_F(DryRunTest, RefusedWhereDdlCommitsItself)
{
   if (DryRunsHere())
      GTEST_SKIP() << CurrentEngine().name << " has a dry run";
   LoadFormat69(db());
   std::string before = Snapshot();
   ToolRun dry = db().Run({"-f", "upgrade", "--dry-run"});
   EXPECT_EQ(7, dry.exitCode);
   EXPECT_EQ(0u, dry.out.find(kBanner + "Dry run refused: ")) << dry.out;
   EXPECT_NE(std::string::npos, dry.out.find("nothing was changed\n")) << dry.out;
   EXPECT_EQ(std::string::npos, dry.out.find("Upgrading")) << dry.out;
   EXPECT_EQ(before, Snapshot());
}

// Killed at a question half-way: SIGINT removes the copy at once; after SIGKILL
// the copy stays, and the next run removes it. The original is never touched.
TEST_F(DryRunTest, KilledHalfWayOnSqlite)
{
   if (db().engine() != "sqlite")
      GTEST_SKIP() << "the copy is made on SQLite only";
   LoadFormat14(db());
   std::string before = Snapshot();
   for (int sig : {SIGINT, SIGTERM, SIGKILL})
   {
      std::vector<std::string> seen;
      ToolRun run = db().RunAnswering({"upgrade", "--dry-run"}, [&](int) {
         seen = Copies();
         for (const std::string &name : seen)
            if (name.find('-', name.find(".dry-run-") + 9) == std::string::npos)
               kill((pid_t)std::stol(name.substr(name.find(".dry-run-") + 9)), sig);
         return std::string();
      });
      EXPECT_FALSE(seen.empty()) << "signal " << sig << ": no copy while the dry run waited\n" << run.out;
      EXPECT_NE(std::string::npos, run.out.find("Upgrading from version 14 to 15\n")) << run.out;
      EXPECT_EQ(std::string::npos, run.out.find("Database upgrade")) << run.out;
      EXPECT_EQ(before, Snapshot()) << "signal " << sig;
      if (sig != SIGKILL)
      {
         EXPECT_TRUE(Copies().empty()) << "signal " << sig;
      }
   }
   EXPECT_FALSE(Copies().empty()) << "SIGKILL leaves the copy";
   ToolRun next = db().Run({"status"});
   EXPECT_EQ(0, next.exitCode) << next.out;
   EXPECT_TRUE(Copies().empty());
   EXPECT_EQ(before, Snapshot());
}

TEST(DryRunCopy, NameAndStaleCopies)
{
   EXPECT_EQ("/var/db/korvel.db.dry-run-42", DryRunCopyName("/var/db/korvel.db", 42));
   TempDir dir;
   // A copy of a process that is gone, with its journal; one of a running
   // process (this one); and files of other databases or other names.
   std::string file = dir.File("korvel.db");
   dir.Write("korvel.db", "original");
   std::string gone = DryRunCopyName(file, 999999999);
   dir.Write("korvel.db.dry-run-999999999", "stale");
   dir.Write("korvel.db.dry-run-999999999-journal", "stale");
   dir.Write("korvel.db.dry-run-" + std::to_string(getpid()), "running");
   dir.Write("other.db.dry-run-999999999", "someone else's");
   dir.Write("korvel.db.dry-run-abc", "not a copy");
   RemoveStaleDryRunCopies(file.c_str());
   struct
   {
      std::string name;
      bool kept;
   } expected[] = {{"korvel.db", true},
                   {"korvel.db.dry-run-999999999", false},
                   {"korvel.db.dry-run-999999999-journal", false},
                   {"korvel.db.dry-run-" + std::to_string(getpid()), true},
                   {"other.db.dry-run-999999999", true},
                   {"korvel.db.dry-run-abc", true}};
   for (const auto &e : expected)
      EXPECT_EQ(e.kept, FileBytes(dir.File(e.name)) != "<missing>") << e.name;
}

}  // namespace
