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

const std::string kBanner = kBannerText;
const char kLostHead[] = "Connection to the database lost (";
const char kLostTail[] = "); command stopped\n";

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

   // The tool's session: the other one on the test database; with |waiting|,
   // only when it waits for a lock. Empty when there is none.
   std::string ToolSession(bool waiting)
   {
      std::string query;
      if (OnPostgres())
         query = "SELECT pid FROM pg_stat_activity WHERE datname=current_database() AND pid<>pg_backend_pid()" +
                 std::string(waiting ? " AND wait_event_type='Lock'" : "");
      else if (waiting)
         query = "SELECT trx_mysql_thread_id FROM information_schema.innodb_trx WHERE trx_state='LOCK WAIT'";
      else
         query = "SELECT id FROM information_schema.processlist WHERE db=DATABASE() AND id<>CONNECTION_ID()";
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
      ASSERT_EQ(before + kLostHead, run.out.substr(0, before.size() + sizeof(kLostHead) - 1)) << run.out;
      EXPECT_EQ(kLostTail, run.out.substr(run.out.size() - (sizeof(kLostTail) - 1))) << run.out;
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
         EndSession(ToolSession(false));
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

// A step's statement waits for a row lock held by the test; its session is
// ended while it waits. The step is neither rolled back by the tool nor
// reported: the message is the last word, and the version stays.
TEST_F(LostConnectionTest, UpgradeStopsAtOnce)
{
   db().SetConfig("DBFormatVersion", "82");
   Plant(db(), "INSERT INTO alarms (alarm_id,source_object_id,timeout,timeout_event) VALUES (1,2,5,6)");
   std::string error;
   ASSERT_TRUE(db().Exec(OnPostgres() ? "BEGIN" : "START TRANSACTION", &error)) << error;
   ASSERT_TRUE(db().Exec("UPDATE alarms SET timeout=7 WHERE alarm_id=1", &error)) << error;
   std::thread killer([&] {
      std::string id;
      for (int i = 0; i < 300 && id.empty(); i++)
      {
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         id = ToolSession(true);
      }
      EndSession(id);
      std::string ignored;
      db().Exec("ROLLBACK", &ignored);
   });
   ToolRun run = db().Run({"upgrade"});
   killer.join();
   ExpectStoppedAfter(kBanner + "Upgrading database...\nUpgrading from version 82 to 83\n", run);
   EXPECT_EQ("82", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
   EXPECT_EQ("5", db().Value("SELECT timeout FROM alarms WHERE alarm_id=1"));
}

}  // namespace
