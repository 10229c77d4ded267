// A connection the server drops ends the command at once: one message, no
// further question or statement, exit 7, and the open transaction is rolled
// back by the server. The tool's session is ended from the test's own
// connection, as an administrator would end it.
#include <chrono>
#include <string>
#include <thread>

#include "tests/check/check_support.h"

namespace {

using namespace checktest;

class LostConnectionTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      if (db().engine() == "sqlite")
         GTEST_SKIP() << "a database file has no session to end";
      db().InitSchema();
   }

   // The odbc engine is PostgreSQL behind psqlODBC.
   bool OnPostgres() { return db().engine() == "pgsql" || db().engine() == "odbc"; }

   // The tool's session: the other one on the test database; with |running|,
   // only while its current statement contains that text. Empty when there is none.
   std::string ToolSession(const std::string &running = "")
   {
      std::string query;
      if (OnPostgres())
         query = "SELECT pid FROM pg_stat_activity WHERE datname=current_database() AND pid<>pg_backend_pid()" +
                 (running.empty() ? "" : " AND state='active' AND query LIKE '%" + running + "%'");
      else
         query = "SELECT id FROM information_schema.processlist WHERE db=DATABASE() AND id<>CONNECTION_ID()" +
                 (running.empty() ? "" : " AND info LIKE '%" + running + "%'");
      std::string id = db().Value(query);
      return id == "<none>" ? "" : id;
   }

   // Ends the session |id| on the server.
   void EndSession(const std::string &id)
   {
      ASSERT_FALSE(id.empty()) << "no session of the tool found";
      std::string error;
      if (OnPostgres())
         EXPECT_EQ("1", db().Value("SELECT CASE WHEN pg_terminate_backend(" + id + ") THEN 1 ELSE 0 END"));
      else
         EXPECT_TRUE(db().Exec("KILL CONNECTION " + id, &error)) << error;
   }

   // The run's output must end with the lost-connection message, right after |before|.
   void ExpectStoppedAfter(const std::string &before, const ToolRun &run)
   {
      EXPECT_EQ(before + "Connection to the database lost (ERR); command stopped\n", MaskErrors(run.out));
      EXPECT_EQ(7, run.exitCode) << run.out;
   }
};

// Stopped at its second question, the tool loses its session; the answer then
// finds the connection gone. Nothing more is asked (the third problem, the
// commit), and the first repair, made in the same transaction, is not kept.
TEST_F(LostConnectionTest, CheckStopsAtOnce)
{
   AddProperties(db(), 20, "first", 0, 0);
   AddProperties(db(), 21, "second", 0, 0);
   AddProperties(db(), 22, "third", 0, 0);
   ToolRun run = db().RunAnswering({"check"}, [&](int question) {
      if (question == 2)
         EndSession(ToolSession());
      return std::string("Y");
   });
   std::string before = kBanner + kHead;
   for (int stage = NODES; stage < TIMESTAMPS; stage++)
      before += StageLine(stage) + "[PASSED]\n";
   before += StageLine(TIMESTAMPS) + "\rObject 20 [first] has invalid timestamp. Correct? (Y/N) Y\n" +
             "\rObject 21 [second] has invalid timestamp. Correct? (Y/N) Y\n";
   ExpectStoppedAfter(before, run);
   EXPECT_EQ("3", db().Value("SELECT COUNT(*) FROM object_properties WHERE last_modified=0"));
}

// A step's statement is held up by a trigger that sleeps; the tool's session
// is ended while it runs. The step is neither rolled back by the tool nor
// reported: the message is the last word, and the version stays.
TEST_F(LostConnectionTest, UpgradeStopsAtOnce)
{
   db().SetConfig("DBFormatVersion", "82");
   Plant(db(), "INSERT INTO alarms (alarm_id,source_object_id,timeout,timeout_event) VALUES (1,2,5,6)");
   if (OnPostgres())
   {
      Plant(db(), "CREATE FUNCTION kv_slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(30); RETURN NEW; END $$ "
                  "LANGUAGE plpgsql");
      Plant(db(), "CREATE TRIGGER kv_slow BEFORE UPDATE ON alarms FOR EACH ROW EXECUTE FUNCTION kv_slow()");
   }
   else
   {
      Plant(db(), "CREATE TRIGGER kv_slow BEFORE UPDATE ON alarms FOR EACH ROW SET @kv_slept = SLEEP(30)");
   }
   std::thread killer([&] {
      std::string id;
      for (int i = 0; i < 300 && id.empty(); i++)
      {
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         // MariaDB shows the trigger's statement as the one the session runs.
         id = ToolSession(OnPostgres() ? "UPDATE alarms SET timeout=0" : "@kv_slept");
      }
      EndSession(id);
   });
   ToolRun run = db().Run({"upgrade"});
   killer.join();
   ExpectStoppedAfter(kBanner + "Upgrading database...\nUpgrading from version 82 to 83\n", run);
   EXPECT_EQ("82", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
   EXPECT_EQ("5", db().Value("SELECT timeout FROM alarms WHERE alarm_id=1"));
}

}  // namespace
