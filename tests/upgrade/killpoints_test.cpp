// The kill-point campaign: an upgrade from format 69 to 83 of a few seconds,
// killed (SIGKILL) at random moments. After every kill the database must be
// at a whole format version with every row of the rebuilt tables still there,
// and a run to the end must leave exactly what an uninterrupted run leaves.
//
// KV_KILLPOINTS sets the number of kills per engine (default 3, the short run
// of the test command; scripts/killpoints runs a long one), KV_KILLPOINT_SEED
// the random seed (printed, so that a failing run can be repeated) and
// KV_KILLPOINT_ROWS the rows added to each rebuilt table.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harness.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/interrupted_step.h"

namespace {

int EnvInt(const char *name, int defaultValue)
{
   const char *text = getenv(name);
   return (text != nullptr && *text != 0) ? atoi(text) : defaultValue;
}

// What shows that the step to |version| has run: the query runs (a column or
// table is there), or with |rows|, it finds a row; |afterwards| says whether
// that holds after the step (true) or only before it (false).
struct VersionProbe
{
   int version;
   const char *query;
   bool rows;
   bool afterwards;
};

const VersionProbe kProbes[] = {
   {70, "SELECT user_tag FROM snmp_trap_cfg WHERE 1=0", false, true},
   {71, "SELECT required_polls FROM nodes WHERE 1=0", false, true},
   {72, "SELECT proxy_node FROM items WHERE 1=0", false, true},
   {73, "SELECT id FROM situations WHERE 1=0", false, true},
   {74, "SELECT event_code FROM event_cfg WHERE event_code=48", true, true},
   {75, "SELECT id FROM snmp_communities WHERE 1=0", false, true},
   {76, "SELECT event_code FROM event_cfg WHERE event_code=50", true, true},
   {77, "SELECT sequence_number FROM cond_dci_map WHERE 1=0", false, true},
   {78, "SELECT source_object_id FROM trusted_nodes WHERE 1=0", false, true},
   {79, "SELECT module_id FROM modules WHERE 1=0", false, false},
   {80, "SELECT uname FROM nodes WHERE 1=0", false, true},
   {81, "SELECT schedule_id FROM dci_schedules WHERE 1=0", false, true},
   {82, "SELECT var_name FROM config_clob WHERE 1=0", false, true},
   {83, "SELECT alarm_id FROM alarms WHERE timeout_event<>43", true, false},
};

class KillPointsTest : public EngineTest
{
protected:
   bool IsMySql() { return db().engine() == "mysql"; }

   // The format-69 fixture with |rows| more rows in each rebuilt table, in
   // multi-row inserts. One condition per row and schedules in item order,
   // so that the rebuilt rows come out the same whatever order a re-run
   // reads them in; every schedule holds a quote and a backslash.
   static void Fill(TestDatabase &db, int rows)
   {
      LoadFormat69(db);
      const int batch = 500;
      for (int start = 0; start < rows; start += batch)
      {
         std::string conditions = "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES ";
         std::string schedules = "INSERT INTO dci_schedules (item_id,schedule) VALUES ";
         for (int i = start; i < std::min(rows, start + batch); i++)
         {
            const char *comma = i > start ? "," : "";
            conditions += comma + ("(" + std::to_string(1000 + i) + "," + std::to_string(i) + "," +
                                   std::to_string(100 + i % 7) + "," + std::to_string(i % 5) + "," +
                                   std::to_string(1 + i % 3) + ")");
            schedules += comma + ("(" + std::to_string(10 + i) + ",'*/" + std::to_string(i % 60) + " ''x''\\')");
         }
         std::string error;
         ASSERT_TRUE(db.Exec(conditions, &error)) << error;
         ASSERT_TRUE(db.Exec(schedules, &error)) << error;
      }
   }

   static std::string Hash(const Rows &rows)
   {
      return std::to_string(rows.size()) + ":" + std::to_string(std::hash<std::string>()(SortedRows(rows)));
   }

   // The rows of the two rebuilt tables in the columns every version has.
   static std::string RebuiltRows(TestDatabase &db)
   {
      return Hash(db.Query("SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map")) + " " +
             Hash(db.Query("SELECT item_id,schedule FROM dci_schedules"));
   }

   // Every table and every row in it.
   static std::string Everything(TestDatabase &db)
   {
      std::string all;
      for (const std::string &table : TableNames(db))
         all += table + "=" + Hash(db.Query("SELECT * FROM " + table)) + "\n";
      return all;
   }

   // Runs the upgrade and kills it after |delay|. True when it was killed;
   // false when it had ended before, after |ranFor|, with |exitCode|.
   static bool UpgradeKilledAfter(TestDatabase &db, std::chrono::microseconds delay, std::chrono::microseconds *ranFor,
                                  int *exitCode)
   {
      auto started = std::chrono::steady_clock::now();
      pid_t pid = fork();
      if (pid == 0)
      {
         int null = open("/dev/null", O_RDWR);
         dup2(null, 0);
         dup2(null, 1);
         unsetenv("KORVELD_CONFIG");
         execl(KVDBMGR_BIN, "kvdbmgr", "-c", db.config().c_str(), "upgrade", (char *)nullptr);
         _exit(127);
      }
      int status = 0;
      while (true)
      {
         auto ran = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
         if (waitpid(pid, &status, WNOHANG) == pid)
         {
            *ranFor = ran;
            *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return false;
         }
         if (ran >= delay)
            break;
         std::this_thread::sleep_for(std::min(delay - ran, std::chrono::microseconds(1000)));
      }
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
   }

   // Waits until the server has ended the killed tool's session, so that what
   // it was running when killed has finished or been rolled back.
   static void AwaitSessionsGone(TestDatabase &db)
   {
      std::string query;
      if (db.engine() == "mysql")
         query = "SELECT COUNT(*) FROM information_schema.processlist WHERE db=DATABASE() AND id<>CONNECTION_ID()";
      else if (db.engine() == "pgsql")
         query = "SELECT COUNT(*) FROM pg_stat_activity WHERE datname=current_database() AND pid<>pg_backend_pid()";
      else
         return;
      for (int i = 0; i < 600 && db.Value(query) != "0"; i++)
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ASSERT_EQ("0", db.Value(query)) << "the killed session is still there";
   }
};

TEST_F(KillPointsTest, KilledUpgradesLoseNothingAndRunOnToTheSameEnd)
{
   if (db().engine() == "odbc")
      GTEST_SKIP() << "the campaign runs on the native drivers (sqlite, pgsql, mysql)";
   const int killPoints = EnvInt("KV_KILLPOINTS", 3);
   // Enough rows for an upgrade of a second or more; SQLite copies rows
   // much faster than the servers.
   const int rows = EnvInt("KV_KILLPOINT_ROWS", db().engine() == "sqlite" ? 20000 : 10000);
   const unsigned seed = (unsigned)EnvInt("KV_KILLPOINT_SEED", (int)time(nullptr));
   std::mt19937 random(seed);

   // The uninterrupted run: how long it takes, and what it leaves.
   Fill(db(), rows);
   const std::string original = RebuiltRows(db());
   auto started = std::chrono::steady_clock::now();
   ToolRun run = db().Run({"upgrade"});
   auto duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
   ASSERT_EQ(0, run.exitCode) << run.out;
   const std::string reference = Everything(db());
   ASSERT_NE(std::string::npos, reference.find("dci_schedules=")) << reference;
   ASSERT_EQ(original, RebuiltRows(db()));

   // A run that ends before its kill is no kill point: it must have ended as
   // the uninterrupted one did, and it shows how long a run takes now (the
   // machine may be busier or less busy than during the first run): the
   // kills are spread over the average.
   int kills = 0, survived = 0, rowsLost = 0, midStep = 0, ended = 0;
   std::vector<int> versions;
   for (int attempt = 0; kills < killPoints && attempt < 4 * killPoints; attempt++)
   {
      SCOPED_TRACE("attempt " + std::to_string(attempt) + ", seed " + std::to_string(seed));
      TestDatabase victim;
      Fill(victim, rows);
      std::chrono::microseconds delay(std::uniform_int_distribution<long>(0, (long)duration.count())(random));
      std::chrono::microseconds ranFor(0);
      int exitCode = -1;
      if (!UpgradeKilledAfter(victim, delay, &ranFor, &exitCode))
      {
         ended++;
         EXPECT_EQ(0, exitCode) << "after " << ranFor.count() << " us";
         EXPECT_EQ(reference, Everything(victim));
         if (exitCode == 0)
            duration = (duration + ranFor) / 2;   // an average: one odd run must not shrink the window
         continue;
      }
      kills++;
      AwaitSessionsGone(victim);

      // A whole version, and every row.
      std::string text = victim.Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'");
      int version = atoi(text.c_str());
      ASSERT_EQ(std::to_string(version), text);
      ASSERT_GE(version, 69);
      ASSERT_LE(version, 83);
      versions.push_back(version);
      std::string left = RebuiltRows(victim);
      EXPECT_EQ(original, left) << "at version " << version;
      if (left != original)
         rowsLost++;
      // On MySQL the step under way may be half done, and then it is marked:
      // its own change may or may not be there, every other is as the version says.
      bool marked = IsMySql() && victim.Value(std::string("SELECT var_value FROM config WHERE var_name='") +
                                              kStepStartedVariable + "'") == text;
      if (marked)
         midStep++;
      bool whole = true;
      for (const VersionProbe &p : kProbes)
      {
         if (marked && p.version == version + 1)
            continue;
         bool ran = p.version <= version;
         bool found = p.rows ? victim.Value(p.query) != "<none>" : victim.Exec(p.query);
         EXPECT_EQ(ran == p.afterwards, found) << p.query << " at version " << version;
         whole = whole && found == (ran == p.afterwards);
      }

      // Run on to the end: the same tables and rows as the uninterrupted run.
      run = victim.Run({"upgrade"});
      EXPECT_EQ(0, run.exitCode) << run.out;
      std::string end = Everything(victim);
      EXPECT_EQ(reference, end) << run.out;
      if (whole && left == original && end == reference && run.exitCode == 0)
         survived++;
   }
   std::string reached;
   for (int v : versions)
      reached += " " + std::to_string(v);
   printf("killpoints %s: %d of %d kill points survived, %d with rows lost, %d killed inside a marked step, "
          "%d runs ended before their kill; upgrade %.1f s, %d rows per rebuilt table, seed %u; versions at the "
          "kills:%s\n",
          db().engine().c_str(), survived, kills, rowsLost, midStep, ended, duration.count() / 1e6, rows, seed,
          reached.c_str());
   fflush(stdout);
   EXPECT_EQ(killPoints, kills);
   EXPECT_EQ(kills, survived);
}

}  // namespace
