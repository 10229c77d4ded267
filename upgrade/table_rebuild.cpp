// Table rebuilds that lose no rows on any engine.
#include "upgrade/table_rebuild.h"

#include "db/settings.h"
#include "db/statements.h"

namespace {

void CreateTable(StepRunner &step, const TableRebuild &rebuild, const std::string &name)
{
   std::string statement = "CREATE TABLE " + name + " " + rebuild.layout;
   if (rebuild.creation == CREATE_WITH_TABLE_TYPE)
      step.CreateTable(statement.c_str());
   else
      step.Exec(statement);
}

void CopyRows(StepRunner &step, const std::string &into, int rows, const RowCopy &copy)
{
   for (int i = 0; step.ok() && i < rows; i++)
      step.Exec(copy(into.c_str(), i));
}

}  // namespace

std::string RebuildNewName(const char *table)
{
   return std::string(table) + "_rebuild_new";
}

std::string RebuildOldName(const char *table)
{
   return std::string(table) + "_rebuild_old";
}

void RebuildTable(StepRunner &step, const TableRebuild &rebuild, int rows, const RowCopy &copy)
{
   if (g_nSyntax != DB_SYNTAX_MYSQL)
   {
      step.Exec(std::string("DROP TABLE ") + rebuild.table);
      CreateTable(step, rebuild, rebuild.table);
      CopyRows(step, rebuild.table, rows, copy);
      return;
   }

   const std::string fresh = RebuildNewName(rebuild.table);
   const std::string old = RebuildOldName(rebuild.table);
   // What an interrupted run left: a half-filled new table, or the old one
   // after the swap (the table itself then already has every row).
   step.Exec("DROP TABLE IF EXISTS " + fresh);
   step.Exec("DROP TABLE IF EXISTS " + old);
   CreateTable(step, rebuild, fresh);
   CopyRows(step, fresh, rows, copy);
   if (!step.ok())
   {
      // The old table is untouched; the partial copy only stands in the way
      // of the next run (which would drop it too).
      ExecQuietStatement(("DROP TABLE IF EXISTS " + fresh).c_str());
      return;
   }
   // One statement: at no moment is the table missing.
   step.Exec("RENAME TABLE " + std::string(rebuild.table) + " TO " + old + ", " + fresh + " TO " + rebuild.table);
   step.Exec("DROP TABLE " + old);
}
