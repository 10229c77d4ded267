// Steps interrupted half-way: on MySQL, where DDL commits by itself, a step
// that stopped after some of its DDL can be run again; rebuilt tables never
// lose rows. Elsewhere a failed step rolls back whole and nothing is marked.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/access_layer.h"
#include "tests/support/harness.h"
#include "tests/support/output.h"
#include "tests/upgrade/upgrade_support.h"
#include "upgrade/interrupted_step.h"

namespace {

class InterruptedStepTest : public UpgradeTest
{
protected:
   void SetUpDatabase() override { LoadFormat69(db()); }
};

// Step78To79 drops the modules table and then, on MySQL, makes graphs.config
// "text not null": a NULL there fails it after the DROP has committed. The
// next run finds the step marked started on version 78: there the DROP of the
// table already gone counts as done, and once the row is fixed the step
// completes, without -X. Where DDL is transactional the failed step rolled
// back whole, the table is still there, and nothing is marked.
TEST_F(InterruptedStepTest, Step78To79RunsAgainAfterTheRowIsFixed)
{
   const bool nullable = db().Exec("UPDATE graphs SET config=NULL WHERE graph_id=1");
   ASSERT_TRUE(nullable || !IsMySql());

   ToolRun run = db().Run({"upgrade"});
   const std::string done = "Already done by the interrupted run: DROP TABLE modules\n";
   if (!IsMySql())
   {
      // Nothing fails there: only MySQL changes the column.
      EXPECT_EQ(kStart + UpgradeLines(69, 83) + kSucceeded, run.out);
      EXPECT_EQ("<none>", Config(kStepStartedVariable));
      return;
   }
   const std::string failed =
      "SQL query failed (ERR):\nALTER TABLE graphs MODIFY COLUMN config text not null\n" + kRollback;
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(kStart + UpgradeLines(69, 79) + failed, MaskErrors(run.out));
   EXPECT_EQ("78", Config("DBFormatVersion"));
   EXPECT_EQ("78", Config(kStepStartedVariable));
   EXPECT_FALSE(TableExists("modules"));   // committed before the failure

   // Run again unfixed: the DROP is passed over as done, the column fails as before.
   run = db().Run({"upgrade"});
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ(kStart + UpgradeLines(78, 79) + done + failed, MaskErrors(run.out));
   EXPECT_EQ("78", Config("DBFormatVersion"));

   // Fixed: the step completes and every later one runs; the mark is gone.
   ASSERT_TRUE(db().Exec("UPDATE graphs SET config='#00' WHERE graph_id=1"));
   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(78, 79) + done + UpgradeLines(79, 83) + kSucceeded, run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("83", Config("DBFormatVersion"));
   EXPECT_EQ("<none>", Config(kStepStartedVariable));
   EXPECT_EQ("NO", db().Value("SELECT is_nullable FROM information_schema.columns WHERE table_schema=DATABASE() "
                              "AND table_name='graphs' AND column_name='config'"));
}

// Only a run that finds the mark on the version it starts from is a re-run:
// without it, or with a mark left on an older version, a DDL statement whose
// effect is in place fails the step as it always did.
TEST_F(InterruptedStepTest, WithoutAMarkOnThisVersionNothingCountsAsDone)
{
   ASSERT_TRUE(db().Exec("DROP TABLE modules"));
   for (const char *mark : {"first run", "", "77"})
   {
      if (std::string(mark) != "first run")
      {
         db().DeleteConfig(kStepStartedVariable);
         if (*mark != 0)
            db().SetConfig(kStepStartedVariable, mark);
      }
      ToolRun run = db().Run({"upgrade"});
      EXPECT_EQ(7, run.exitCode) << "mark " << mark;
      // No "Already done" line: the DROP of the missing table fails the step.
      const int from = std::string(mark) == "first run" ? 69 : 78;
      EXPECT_EQ(kStart + UpgradeLines(from, 79) + "SQL query failed (ERR):\nDROP TABLE modules\n" + kRollback,
                MaskErrors(run.out))
         << "mark " << mark;
      EXPECT_EQ("78", Config("DBFormatVersion"));
   }
}

// A rebuild on MySQL whose copy fails half-way (a schedule too long for the
// new layout) leaves the old table with every row; with the row shortened the
// next run completes with every row.
TEST_F(InterruptedStepTest, RebuildWhoseCopyFailsHalfWayKeepsEveryRow)
{
   if (!IsMySql())
      GTEST_SKIP() << "rebuilds copy into a table of their own only on MySQL";
   ASSERT_TRUE(db().Exec("ALTER TABLE dci_schedules MODIFY schedule varchar(1000) not null"));
   for (int start = 0; start < 2000; start += 500)
   {
      std::string insert = "INSERT INTO dci_schedules (item_id,schedule) VALUES ";
      for (int i = start; i < start + 500; i++)
         insert += std::string(i > start ? "," : "") + "(" + std::to_string(100 + i) + ",'" +
                   (i == 1000 ? std::string(300, 'x') : "*/" + std::to_string(i)) + "')";
      ASSERT_TRUE(db().Exec(insert));
   }
   const std::string select = "SELECT item_id,schedule FROM dci_schedules";
   const std::string original = SortedRows(db().Query(select));

   ToolRun run = db().Run({"upgrade"});
   EXPECT_EQ(7, run.exitCode);
   EXPECT_NE(std::string::npos, run.out.find("INSERT INTO dci_schedules_rebuild_new (item_id,schedule_id,schedule) "
                                             "VALUES(1100,1005,'xxx"))
      << run.out;
   EXPECT_TRUE(EndsWith(run.out, kRollback)) << run.out;
   EXPECT_EQ("80", Config("DBFormatVersion"));
   EXPECT_EQ(original, SortedRows(db().Query(select)));
   EXPECT_FALSE(TableExists("dci_schedules_rebuild_new"));

   ASSERT_TRUE(db().Exec("UPDATE dci_schedules SET schedule='*/1000' WHERE item_id=1100"));
   const std::string fixed = SortedRows(db().Query(select));
   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(80, 83) + kSucceeded, run.out);
   EXPECT_EQ(fixed, SortedRows(db().Query(select)));
   EXPECT_EQ("2004", db().Value("SELECT COUNT(DISTINCT schedule_id) FROM dci_schedules"));
}

// A rebuild on MySQL whose connection is killed (KILL CONNECTION from another
// session) while the rows are being copied leaves the old table with every
// row; the next run completes with every row.
TEST_F(InterruptedStepTest, RebuildWhoseConnectionIsKilledHalfWayKeepsEveryRow)
{
   if (!IsMySql())
      GTEST_SKIP() << "rebuilds copy into a table of their own only on MySQL";
   const int rows = 5000;
   for (int start = 0; start < rows; start += 500)
   {
      std::string insert = "INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls) VALUES ";
      for (int i = start; i < start + 500; i++)
         insert += std::string(i > start ? "," : "") + "(" + std::to_string(1000 + i) + "," + std::to_string(i) +
                   ",100,0,1)";
      ASSERT_TRUE(db().Exec(insert));
   }
   const std::string select = "SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map";
   const std::string original = SortedRows(db().Query(select));

   // The copied rows are not committed until the swap: the watcher reads them
   // uncommitted.
   ASSERT_TRUE(db().Exec("SET SESSION TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"));
   ToolRun run;
   std::thread tool([&] { run = db().Run({"upgrade"}); });
   // Once a fifth of the rows are in the new table, end the tool's session.
   bool killed = false;
   for (int i = 0; i < 3000 && !killed; i++)
   {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (db().Value("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema=DATABASE() AND "
                     "table_name='cond_dci_map_rebuild_new'") != "1")
         continue;
      if (atoi(db().Value("SELECT COUNT(*) FROM cond_dci_map_rebuild_new").c_str()) < rows / 5)
         continue;
      std::string session = db().Value("SELECT id FROM information_schema.processlist WHERE db=DATABASE() AND "
                                       "id<>CONNECTION_ID()");
      killed = db().Exec("KILL CONNECTION " + session);
   }
   tool.join();
   ASSERT_TRUE(killed) << run.out;
   EXPECT_EQ(7, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find(kSucceeded)) << run.out;
   EXPECT_EQ("76", Config("DBFormatVersion"));
   EXPECT_EQ(original, SortedRows(db().Query(select)));

   run = db().Run({"upgrade"});
   EXPECT_EQ(kStart + UpgradeLines(76, 83) + kSucceeded, run.out);
   EXPECT_EQ(original, SortedRows(db().Query(select)));
   EXPECT_EQ(std::to_string(rows + 3), db().Value("SELECT COUNT(*) FROM cond_dci_map"));
   EXPECT_FALSE(TableExists("cond_dci_map_rebuild_new"));
   EXPECT_FALSE(TableExists("cond_dci_map_rebuild_old"));
}

// Which failed DDL statements count as done on a re-run: exactly those whose
// effect the server's catalogue shows in place.
using EffectInPlaceTest = AccessLayerTest;

TEST_F(EffectInPlaceTest, OnlyWhatTheCatalogueShows)
{
   if (db().engine() != "mysql")
      GTEST_SKIP() << "DDL is transactional on " << db().engine() << ": steps are never run again half-done";
   ASSERT_TRUE(db().Exec("CREATE TABLE t (a integer not null, b integer)"));
   ASSERT_TRUE(db().Exec("CREATE INDEX idx_t_b ON t(b)"));
   ASSERT_TRUE(db().Exec("CREATE TABLE k (a integer not null, PRIMARY KEY(a))"));
   struct Case
   {
      const char *statement;
      bool done;
   } cases[] = {
      {"DROP TABLE gone", true},
      {"DROP TABLE t", false},
      {"CREATE TABLE t (a integer not null)", true},
      {"CREATE TABLE fresh (a integer not null)", false},
      {"ALTER TABLE t ADD b integer", true},
      {"ALTER TABLE t ADD COLUMN b integer", true},
      {"ALTER TABLE t ADD c integer", false},
      {"ALTER TABLE t DROP COLUMN c", true},
      {"ALTER TABLE t DROP COLUMN b", false},
      {"ALTER TABLE gone DROP COLUMN c", false},   // the table itself is missing: not the effect
      {"ALTER TABLE k ADD PRIMARY KEY (a)", true},
      {"ALTER TABLE t ADD PRIMARY KEY (a)", false},
      {"CREATE INDEX idx_t_b ON t(b)", true},
      {"CREATE INDEX idx_t_a ON t(a)", false},
      {"CREATE INDEX idx_t_b ON k(a)", false},      // index names are per table here
      {"DROP INDEX idx_t_a ON t", true},
      {"DROP INDEX idx_t_b ON t", false},
      {"DROP INDEX idx_t_a ON gone", false},
      {"ALTER TABLE t MODIFY COLUMN b text not null", false},
      {"INSERT INTO t VALUES (1,1)", false},
      {"UPDATE t SET b=2", false},
   };
   for (const Case &c : cases)
      EXPECT_EQ(c.done, DdlEffectInPlace(c.statement)) << c.statement;
}

}  // namespace
