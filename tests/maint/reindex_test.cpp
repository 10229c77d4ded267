// The reindex command: gates, the index list, and failures that do not stop the list.
#include <string>

#include "tests/support/harness.h"

namespace {

// The tables reindex works on, with just the indexed columns.
const char *const kTables[] = {
   "CREATE TABLE raw_dci_values (item_id integer)",  "CREATE TABLE event_log (event_timestamp integer)",
   "CREATE TABLE thresholds (item_id integer, sequence_number integer)",
   "CREATE TABLE alarm_change_log (alarm_id integer)", "CREATE TABLE alarm_notes (alarm_id integer)",
   "CREATE TABLE syslog (msg_timestamp integer)",      "CREATE TABLE snmp_trap_log (trap_timestamp integer)",
   "CREATE TABLE address_lists (list_type integer)",
};

const std::string kAllLines =
   "Reindexing table raw_dci_values by (item_id)...\n"
   "Reindexing table event_log by (event_timestamp)...\n"
   "Reindexing table thresholds by (item_id)...\n"
   "Reindexing table thresholds by (sequence_number)...\n"
   "Reindexing table alarm_change_log by (alarm_id)...\n"
   "Reindexing table alarm_notes by (alarm_id)...\n"
   "Reindexing table syslog by (msg_timestamp)...\n"
   "Reindexing table snmp_trap_log by (trap_timestamp)...\n"
   "Reindexing table address_lists by (list_type)...\n"
   "Database reindexing complete.\n";

class ReindexTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      db().SetConfig("DBFormatVersion", "83");
      db().SetConfig("DBLockStatus", "UNLOCKED");
      for (const char *table : kTables)
      {
         std::string error;
         ASSERT_TRUE(db().Exec(table, &error)) << error;
      }
   }

   // Creates one row per indexed column so the index shows in a plan-free way:
   // an index that exists cannot be created again.
   bool IndexExists(const std::string &index, const std::string &table, const std::string &column)
   {
      return !db().Exec("CREATE INDEX " + index + " ON " + table + "(" + column + ")");
   }
};

TEST_F(ReindexTest, RebuildsEveryIndexAndCanRunTwice)
{
   for (int round = 0; round < 2; round++)
   {
      ToolRun run = db().Run({"reindex"});
      EXPECT_EQ(kBanner + kAllLines, run.out) << "round " << round;
      EXPECT_EQ(0, run.exitCode);
   }
   EXPECT_TRUE(IndexExists("idx_raw_dci_values_item_id", "raw_dci_values", "item_id"));
   EXPECT_TRUE(IndexExists("idx_address_lists_list_type", "address_lists", "list_type"));
}

TEST_F(ReindexTest, TraceShowsCreateButNotDrop)
{
   ToolRun run = db().Run({"-t", "reindex"});
   EXPECT_NE(std::string::npos,
             run.out.find("Reindexing table syslog by (msg_timestamp)...\n"
                          ">>> CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n"))
      << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("DROP INDEX")) << run.out;
}

TEST_F(ReindexTest, VersionGate)
{
   struct Case
   {
      const char *version;  // nullptr: no row
      std::string message;
   } cases[] = {
      {"82", "Your database has format version 82, this tool is compiled for version 83.\n"
             "Use \"upgrade\" command to upgrade your database first.\n"},
      {"84", "Your database has format version 84, this tool is compiled for version 83.\n"
             "You need to upgrade your server before using this database.\n"},
      {nullptr, "Your database has format version 0, this tool is compiled for version 83.\n"
                "Use \"upgrade\" command to upgrade your database first.\n"},
   };
   for (const Case &c : cases)
   {
      if (c.version != nullptr)
         db().SetConfig("DBFormatVersion", c.version);
      else
         db().DeleteConfig("DBFormatVersion");
      ToolRun run = db().Run({"reindex"});
      EXPECT_EQ(kBanner + c.message, run.out);
      EXPECT_EQ(7, run.exitCode);
   }
   EXPECT_FALSE(IndexExists("idx_syslog_msg_timestamp", "syslog", "msg_timestamp"));
}

TEST_F(ReindexTest, LockedDatabaseIsRefusedWithoutQuestion)
{
   db().SetConfig("DBLockStatus", "srv#201");
   db().SetConfig("DBLockInfo", "pid 7");
   ToolRun run = db().Run({"reindex"}, "y");
   EXPECT_EQ(kBanner + "Database is locked by server srv 1 [pid 7]\n", run.out);
   EXPECT_EQ(7, run.exitCode);
   EXPECT_FALSE(IndexExists("idx_syslog_msg_timestamp", "syslog", "msg_timestamp"));
}

TEST_F(ReindexTest, MissingTableFailsOneIndexAndTheListGoesOn)
{
   ASSERT_TRUE(db().Exec("DROP TABLE alarm_notes"));
   ToolRun run = db().Run({"reindex"});
   const std::string before = "Reindexing table alarm_notes by (alarm_id)...\nSQL query failed (";
   const std::string after = "):\nCREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id)\n"
                             "Reindexing table syslog by (msg_timestamp)...\n";
   EXPECT_NE(std::string::npos, run.out.find(before)) << run.out;
   EXPECT_NE(std::string::npos, run.out.find(after)) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Database reindexing complete.\n")) << run.out;
   EXPECT_EQ(7, run.exitCode);
   EXPECT_TRUE(IndexExists("idx_address_lists_list_type", "address_lists", "list_type"));
}

}  // namespace
