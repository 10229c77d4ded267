// The step runner's operations: each one the access-layer call it names,
// skipped once the step has failed.
#include "upgrade/step_runner.h"

#include <stdio.h>

#include "db/config_vars.h"
#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"

bool StepRunner::Check(bool succeeded)
{
   if (!succeeded && !g_bSkipErrors)
      ok_ = false;
   return ok_;
}

void StepRunner::Exec(const char *statement)
{
   if (ok_)
      Check(ExecStatement(statement, alreadyDone_));
}

void StepRunner::Script(const char *script)
{
   if (ok_)
      Check(RunScript(script, alreadyDone_));
}

void StepRunner::CreateTable(const char *statement)
{
   if (ok_)
      Check(ExecCreateTable(statement, alreadyDone_));
}

void StepRunner::AddPrimaryKey(const char *table, const char *columns)
{
   if (ok_)
      Check(::AddPrimaryKey(table, columns, alreadyDone_));
}

bool StepRunner::ExecQuiet(const char *statement)
{
   return ok_ && ExecQuietStatement(statement);
}

void StepRunner::DropIndexQuietly(const char *index, const char *table)
{
   ExecQuiet(DropIndexStatement(index, table));
}

void StepRunner::CreateIndex(const TableIndex &index)
{
   Exec("CREATE INDEX " + IndexName(index.table, index.suffix, index.plainName) + " ON " + index.table + "(" +
        index.columns + ")");
}

StepRows StepRunner::Select(const char *query)
{
   if (!ok_)
      return StepRows(nullptr);
   DB_RESULT result = ExecSelect(query);
   Check(result != nullptr);
   return StepRows(result);
}

void StepRunner::AddConfig(const ConfigDefault &row)
{
   if (ok_)
      Check(PutConfigVariable(row.name, row.value, row.visible ? 1 : 0, row.needRestart ? 1 : 0, false));
}

void StepRunner::StoreConfig(const ConfigDefault &row)
{
   if (ok_)
      Check(PutConfigVariable(row.name, row.value, row.visible ? 1 : 0, row.needRestart ? 1 : 0, true));
}

bool StepRunner::ReadConfigText(const char *name, char *buffer, size_t size, const char *defaultValue)
{
   if (!ok_)
      return false;
   bool read = ::ReadConfigText(name, buffer, size, defaultValue) != CONFIG_READ_FAILED;
   Check(read);
   return read;
}

bool StepRunner::ReadConfigInt(const char *name, int32_t defaultValue, int32_t *value)
{
   if (!ok_)
      return false;
   bool read = ::ReadConfigInt(name, defaultValue, value) != CONFIG_READ_FAILED;
   Check(read);
   return read;
}

bool StepRunner::ReadConfigUInt(const char *name, uint32_t defaultValue, uint32_t *value)
{
   if (!ok_)
      return false;
   bool read = ::ReadConfigUInt(name, defaultValue, value) != CONFIG_READ_FAILED;
   Check(read);
   return read;
}

void StepRunner::AddEvents(const EventTemplate *rows, size_t count)
{
   for (size_t i = 0; i < count; i++)
   {
      const EventTemplate &e = rows[i];
      if (!ok_)
         return;
      Exec(FormatStatement("INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) "
                           "VALUES (%d,'%s',%d,%d,'%s','%s')",
                           e.code, e.name, e.severity, e.flags, e.message, e.description));
   }
}

void StepRunner::AddObjectTools(ObjectToolColumns form, const ObjectTool *tools, size_t toolCount,
                                const ObjectToolColumn *columns, size_t columnCount)
{
   InsertObjectTools(form, tools, toolCount, columns, columnCount);
   for (size_t i = 0; i < toolCount && ok_; i++)
      Exec(FormatStatement("INSERT INTO object_tools_acl (tool_id,user_id) VALUES (%d,-2147483648)", tools[i].id));
}

void StepRunner::InsertObjectTools(ObjectToolColumns form, const ObjectTool *tools, size_t toolCount,
                                   const ObjectToolColumn *columns, size_t columnCount)
{
   for (size_t i = 0; i < toolCount && ok_; i++)
   {
      const ObjectTool &t = tools[i];
      switch (form)
      {
         case TOOL_COLUMNS_BASIC:
            Exec(FormatStatement("INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) "
                                 "VALUES (%d,'%s',%d,'%s',%d,'%s')",
                                 t.id, t.name, t.type, t.data, t.flags, t.description));
            break;
         case TOOL_COLUMNS_MATCHING_OID:
            Exec(FormatStatement("INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,"
                                 "description) VALUES (%d,'%s',%d,'%s',%d,'%s','%s')",
                                 t.id, t.name, t.type, t.data, t.flags, t.matchingOid, t.description));
            break;
         case TOOL_COLUMNS_CONFIRMATION:
            Exec(FormatStatement("INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,"
                                 "description,confirmation_text) VALUES (%d,'%s',%d,'%s',%d,'%s','%s','#00')",
                                 t.id, t.name, t.type, t.data, t.flags, t.matchingOid, t.description));
            break;
      }
      for (size_t c = 0; c < columnCount && ok_; c++)
         if (columns[c].toolId == t.id)
            AddObjectToolColumn(columns[c]);
   }
}

void StepRunner::AddObjectToolColumn(const ObjectToolColumn &col)
{
   Exec(FormatStatement("INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,"
                        "col_format,col_substr) VALUES (%d,%d,'%s','%s',%d,%d)",
                        col.toolId, col.number, col.name, col.oid, col.format, col.substr));
}

bool StepRunner::Ask(const char *question)
{
   if (!ok_)
      return false;
   fputs(question, stdout);
   return AskYesNo();
}

std::string VersionStatement(int toVersion)
{
   return FormatStatement("UPDATE config SET var_value='%d' WHERE var_name='DBFormatVersion'", toVersion);
}
