// The upgrade engine's gates, end to end: versions it will not upgrade and the
// lock it will not break.
#include <string>

#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/upgrade.h"

namespace {

const std::string kLocked = kStart + "Database is locked\n";

std::string TooOld(int version)
{
   int oldest = UpgradeStepTable().front().fromVersion;
   return "Format " + std::to_string(version) + " is too old: " + std::to_string(oldest) +
          " is the oldest format this tool upgrades\nThe database is now at format version " +
          std::to_string(version) + "\n";
}

class UpgradeEngineTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
   }
};

TEST_F(UpgradeEngineTest, VersionAndLockGates)
{
   struct Case
   {
      const char *version;   // nullptr: no DBFormatVersion row
      const char *lock;      // nullptr: no DBLockStatus row
      std::string out;
      int exitCode;
      std::string err = "";   // what standard error adds for the operator
   } cases[] = {
      {"83", "UNLOCKED", kUpToDate, 0},
      {"83", "srv-01", kUpToDate, 0},   // the lock is not looked at when there is nothing to do
      {"84", "UNLOCKED",
       kStart + "Your database has format version 84, this tool is compiled for version 83.\n"
                "You need to upgrade your server before using this database.\n",
       7},
      {nullptr, "UNLOCKED", kStart + NoProcedure(0), 7,
       "DBFormatVersion could not be read from the config table, or is missing\n"},
      {nullptr, "srv-01", kLocked, 7},
      {"13", "UNLOCKED", kStart + NoProcedure(13), 7, TooOld(13)},
      {"-1", nullptr, kStart + NoProcedure(-1), 7, TooOld(-1)},
      // Lock values: only the exact stored text "UNLOCKED", or no row, lets it run.
      {"13", nullptr, kStart + NoProcedure(13), 7, TooOld(13)},
      {"13", "unlocked", kLocked, 7},
      {"13", "UNLOCKED ", kLocked, 7},
      {"13", "#55NLOCKED", kLocked, 7},   // decodes to UNLOCKED, but upgrade compares as stored
   };
   for (const Case &c : cases)
   {
      if (c.version != nullptr)
         db().SetConfig("DBFormatVersion", c.version);
      else
         db().DeleteConfig("DBFormatVersion");
      if (c.lock != nullptr)
         db().SetConfig("DBLockStatus", c.lock);
      else
         db().DeleteConfig("DBLockStatus");
      ToolRun run = db().Run({"upgrade"});
      std::string label = std::string("version ") + (c.version ? c.version : "(none)") + ", lock " +
                          (c.lock ? c.lock : "(none)");
      EXPECT_EQ(c.out, run.out) << label;
      EXPECT_EQ(c.exitCode, run.exitCode) << label;
      EXPECT_EQ(c.err, run.err) << label;
      EXPECT_EQ(c.version ? c.version : "<none>",
                db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"))
         << label;
   }
}

TEST_F(UpgradeEngineTest, OneStepFrom82)
{
   db().SetConfig("DBFormatVersion", "82");
   ASSERT_TRUE(db().Exec("CREATE TABLE alarms (alarm_id integer not null, timeout integer, timeout_event integer)"));
   ASSERT_TRUE(db().Exec("INSERT INTO alarms VALUES (1, 300, 50)"));
   ASSERT_TRUE(db().Exec("INSERT INTO alarms VALUES (2, 0, 0)"));
   // -t shows the step's statements; the version read, the lock test and the
   // look for an interrupted step stay hidden. On MySQL the step is marked
   // started before it runs, and the mark goes after the version.
   ToolRun run = db().Run({"-t", "upgrade"});
   const bool mysql = db().engine() == "mysql";
   EXPECT_EQ(kStart + "Upgrading from version 82 to 83\n" +
                (mysql ? ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                         "('DBUpgradeStepStarted','82',0,0)\n"
                       : "") +
                ">>> UPDATE alarms SET timeout=0,timeout_event=43\n"
                ">>> UPDATE config SET var_value='83' WHERE var_name='DBFormatVersion'\n" +
                (mysql ? ">>> DELETE FROM config WHERE var_name='DBUpgradeStepStarted'\n" : "") + kSucceeded,
             run.out);
   EXPECT_EQ("<none>", db().Value("SELECT var_value FROM config WHERE var_name='DBUpgradeStepStarted'"));
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ((Rows{{"1", "0", "43"}, {"2", "0", "43"}}),
             db().Query("SELECT alarm_id,timeout,timeout_event FROM alarms ORDER BY alarm_id"));
   EXPECT_EQ("83", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
}

TEST_F(UpgradeEngineTest, MissingTableFailsTheStep)
{
   db().SetConfig("DBFormatVersion", "82");   // and no alarms table
   ToolRun run = db().Run({"upgrade"});
   const std::string failed = "Upgrading from version 82 to 83\nSQL query failed (ERR):\n"
                              "UPDATE alarms SET timeout=0,timeout_event=43\n";
   EXPECT_EQ(kStart + failed + kRollback, MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("The database is now at format version 82\n", run.err);
   EXPECT_EQ("82", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));

   // Under -X the failure is passed over, reported, and counted.
   run = db().Run({"-X", "upgrade"});
   EXPECT_EQ(kStart + failed + "1 failed SQL statement was ignored (-X)\n" + kSucceeded, MaskErrors(run.out));
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("83", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
}

}  // namespace
