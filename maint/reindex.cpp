// Index rebuild.
#include "maint/reindex.h"

#include <stdio.h>

#include "db/dialects.h"
#include "db/settings.h"
#include "db/statements.h"
#include "db/version.h"
#include "maint/lock.h"

namespace {

struct IndexRow
{
   const char *index;
   const char *table;
   const char *column;
   bool onOracle;
};

const IndexRow kIndexes[] = {
   {"idx_raw_dci_values_item_id", "raw_dci_values", "item_id", false},
   {"idx_event_log_event_timestamp", "event_log", "event_timestamp", true},
   {"idx_thresholds_item_id", "thresholds", "item_id", true},
   {"idx_thresholds_sequence", "thresholds", "sequence_number", true},
   {"idx_alarm_change_log_alarm_id", "alarm_change_log", "alarm_id", true},
   {"idx_alarm_notes_alarm_id", "alarm_notes", "alarm_id", true},
   {"idx_syslog_msg_timestamp", "syslog", "msg_timestamp", true},
   {"idx_snmp_trap_log_trap_timestamp", "snmp_trap_log", "trap_timestamp", true},
   {"idx_address_lists_list_type", "address_lists", "list_type", true},
};

// Drops (silently, it may not exist) and re-creates one index. Returns the
// result of the CREATE INDEX statement.
bool RebuildIndex(const char *index, const char *table, const char *column)
{
   printf("Reindexing table %s by (%s)...\n", table, column);
   ExecQuietStatement(DropIndexStatement(index, table).c_str());
   std::string create = std::string("CREATE INDEX ") + index + " ON " + table + "(" + column + ")";
   return ExecStatement(create.c_str());
}

}  // namespace

bool RunReindexCommand()
{
   if (!PassFormatVersionGate(ReadFormatVersion()))
      return false;

   char owner[256], info[256];
   if (ReadLockState(owner, info))
   {
      printf("Database is locked by server %s [%s]\n", Printable(owner).c_str(), Printable(info).c_str());
      return false;
   }

   bool allCreated = true;
   for (const IndexRow &row : kIndexes)
   {
      if (g_nSyntax == DB_SYNTAX_ORACLE && !row.onOracle)
         continue;
      if (!RebuildIndex(row.index, row.table, row.column))
         allCreated = false;
   }
   printf("Database reindexing complete.\n");
   return allCreated;
}
