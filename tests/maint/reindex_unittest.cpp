// reindex in the dialects no engine here speaks: the statements it sends.
#include <string>
#include <vector>

#include "tests/support/scripted.h"

namespace {

const char kGates[] =
   "select SELECT var_value FROM config WHERE var_name='DBFormatVersion' => 83\n"
   "select SELECT var_value FROM config WHERE var_name='DBLockStatus' => UNLOCKED\n";

TEST(ReindexStatements, PerDialect)
{
   struct Case
   {
      const char *syntax;
      std::vector<std::string> statements;
   } cases[] = {
      {"ORACLE",
       {"DROP INDEX idx_event_log_event_timestamp", "CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)",
        "DROP INDEX idx_thresholds_item_id", "CREATE INDEX idx_thresholds_item_id ON thresholds(item_id)",
        "DROP INDEX idx_thresholds_sequence", "CREATE INDEX idx_thresholds_sequence ON thresholds(sequence_number)",
        "DROP INDEX idx_alarm_change_log_alarm_id", "CREATE INDEX idx_alarm_change_log_alarm_id ON alarm_change_log(alarm_id)",
        "DROP INDEX idx_alarm_notes_alarm_id", "CREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id)",
        "DROP INDEX idx_syslog_msg_timestamp", "CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)",
        "DROP INDEX idx_snmp_trap_log_trap_timestamp", "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)",
        "DROP INDEX idx_address_lists_list_type", "CREATE INDEX idx_address_lists_list_type ON address_lists(list_type)"}},
   };
   for (const Case &c : cases)
   {
      ScriptedDatabase db(c.syntax, kGates);
      ToolRun run = db.Run({"reindex"});
      EXPECT_EQ(0, run.exitCode) << c.syntax << run.out;
      EXPECT_EQ(c.statements, db.Statements()) << c.syntax;
      EXPECT_EQ(0u, run.out.find(kBanner + "Reindexing table event_log by (event_timestamp)...\n"))
         << run.out;
   }
}

TEST(ReindexStatements, DropIndexFormNamesTheTableWhereTheDialectNeedsIt)
{
   struct Case
   {
      const char *syntax;
      const char *drop;
   } cases[] = {
      {"MYSQL", "DROP INDEX idx_raw_dci_values_item_id ON raw_dci_values"},
      {"MSSQL", "DROP INDEX raw_dci_values.idx_raw_dci_values_item_id"},
      {"PGSQL", "DROP INDEX idx_raw_dci_values_item_id"},
      {"SQLITE", "DROP INDEX idx_raw_dci_values_item_id"},
   };
   for (const Case &c : cases)
   {
      ScriptedDatabase db(c.syntax, kGates);
      ToolRun run = db.Run({"reindex"});
      std::vector<std::string> statements = db.Statements();
      ASSERT_EQ(18u, statements.size()) << c.syntax;
      EXPECT_EQ(c.drop, statements[0]) << c.syntax;
      EXPECT_EQ("CREATE INDEX idx_raw_dci_values_item_id ON raw_dci_values(item_id)", statements[1]) << c.syntax;
   }
}

TEST(ReindexStatements, FailingDropIsSilentAndFailingCreateIsReported)
{
   ScriptedDatabase db("PGSQL", std::string(kGates) +
                                   "fail DROP INDEX => index does not exist\n"
                                   "fail CREATE INDEX idx_syslog => permission denied for table syslog\n");
   ToolRun run = db.Run({"reindex"});
   EXPECT_EQ(std::string::npos, run.out.find("does not exist")) << run.out;
   EXPECT_NE(std::string::npos,
             run.out.find("Reindexing table syslog by (msg_timestamp)...\n"
                          "SQL query failed (permission denied for table syslog):\n"
                          "CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n"
                          "Reindexing table snmp_trap_log by (trap_timestamp)...\n"))
      << run.out;
   EXPECT_EQ(7, run.exitCode);
}

}  // namespace
