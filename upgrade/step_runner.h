// The runner an upgrade step is written against: it carries the step's state
// (still going, or failed) so that a step reads as its operations in order.
//
// How to add a step:
//  1. Write `void StepNNToMM(StepRunner &step)` in the range file: its
//     operations in order, each a call on |step|. Do not store the version:
//     the engine runs the version statement (NN+1) after the step, and only
//     when the step has not failed.
//  2. Add the row {NN, StepNNToMM} to the range's table (kSteps69To82 and so
//     on, declared in upgrade/steps.h); the engine chains the range tables.
//  3. Data the step inserts (configuration defaults, event templates, object
//     tools, index names) is declared as a table of rows and handed to one
//     operation; see the types below.
// Every operation does nothing once the step has failed. A failed operation
// fails the step unless -X is set; under -X it has been reported and counted,
// and the step goes on. So a step never tests results itself, except where
// its own description says what to skip (a failed select under -X: skip the
// work that needs the rows) — `Select` and the `Read…` operations return what
// that test needs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "db/dialects.h"
#include "db/statements.h"
#include "lib/kvsrv/kvsrv.h"

// One configuration variable as a step creates it.
struct ConfigDefault
{
   const char *name;
   const char *value;
   bool visible;       // is_visible
   bool needRestart;   // need_server_restart
};

// One event template, inserted into event_cfg.
struct EventTemplate
{
   int code;
   const char *name;
   int severity;
   int flags;
   const char *message;       // stored-text form
   const char *description;   // stored-text form
};

// The object_tools columns a step inserts: they grew over the formats.
enum ObjectToolColumns
{
   TOOL_COLUMNS_BASIC,          // (tool_id,tool_name,tool_type,tool_data,flags,description)
   TOOL_COLUMNS_MATCHING_OID,   // ... flags,matching_oid,description)
   TOOL_COLUMNS_CONFIRMATION    // ... matching_oid,description,confirmation_text) with '#00'
};

// One object tool. matchingOid is left out of TOOL_COLUMNS_BASIC.
struct ObjectTool
{
   int id;
   const char *name;
   int type;
   const char *data;
   int flags;
   const char *matchingOid;
   const char *description;
};

// One column of an object tool's table output.
struct ObjectToolColumn
{
   int toolId;
   int number;
   const char *name;
   const char *oid;
   int format;
   int substr;
};

// One index of a fixed table, created under IndexName(table, suffix, plainName).
struct TableIndex
{
   const char *table;
   const char *suffix;      // "item_id" in idx_<table>_item_id
   const char *plainName;   // the name on MySQL and MSSQL, where names are per table
   const char *columns;     // comma-separated
};

// The rows of a select, freed when it goes out of scope: a step that leaves
// early can never leak them. False when the select failed or was not run.
class StepRows
{
public:
   explicit StepRows(DB_RESULT result) : result_(result) {}
   StepRows(StepRows &&other) : result_(other.result_) { other.result_ = nullptr; }
   StepRows(const StepRows &) = delete;
   StepRows &operator=(const StepRows &) = delete;
   ~StepRows()
   {
      if (result_ != nullptr)
         DBFreeResult(result_);
   }
   explicit operator bool() const { return result_ != nullptr; }
   int count() const { return result_ != nullptr ? DBGetNumRows(result_) : 0; }
   uint32_t ULong(int row, int column) const { return DBGetFieldULong(result_, row, column); }
   int32_t Long(int row, int column) const { return DBGetFieldLong(result_, row, column); }
   const char *Text(int row, int column) const { return DBGetFieldText(result_, row, column); }
   DB_RESULT get() const { return result_; }

private:
   DB_RESULT result_;
};

class StepRunner
{
public:
   // |alreadyDone| is given only where the step runs again after an
   // interrupted run (see upgrade/interrupted_step.h): a DDL statement whose
   // effect is in place then counts as done.
   explicit StepRunner(EffectInPlace alreadyDone = nullptr) : alreadyDone_(alreadyDone) {}

   // True when the step runs again after an interrupted run.
   bool again() const { return alreadyDone_ != nullptr; }

   // True while the step may go on: nothing failed, or -X passed over it.
   bool ok() const { return ok_; }

   // Takes the result of an operation the step ran itself; returns ok().
   bool Check(bool succeeded);
   // Fails the step whatever -X says (for the steps documented to do so).
   void Fail() { ok_ = false; }

   // ExecStatement, RunScript, ExecCreateTable, AddPrimaryKey.
   void Exec(const char *statement);
   void Exec(const std::string &statement) { Exec(statement.c_str()); }
   void Script(const char *script);
   void CreateTable(const char *statement);
   void AddPrimaryKey(const char *table, const char *columns);

   // Runs a statement neither echoed nor reported; its result never fails
   // the step. Returns whether it succeeded (false once the step failed).
   bool ExecQuiet(const char *statement);
   bool ExecQuiet(const std::string &statement) { return ExecQuiet(statement.c_str()); }
   // Drops an index quietly, in the dialect's form (it may not exist).
   void DropIndexQuietly(const char *index, const char *table);

   // Creates the index under the name the dialect needs (IndexName).
   void CreateIndex(const TableIndex &index);
   template <size_t N>
   void CreateIndexes(const TableIndex (&indexes)[N])
   {
      for (const TableIndex &index : indexes)
         CreateIndex(index);
   }

   // Runs a select. A failed select fails the step; under -X the step goes
   // on and the caller skips what needed the rows (the result is false).
   StepRows Select(const char *query);
   StepRows Select(const std::string &query) { return Select(query.c_str()); }

   // Creates the variables that do not exist yet; existing ones keep their values.
   void AddConfig(const ConfigDefault &row);
   template <size_t N>
   void AddConfig(const ConfigDefault (&rows)[N])
   {
      for (const ConfigDefault &row : rows)
         AddConfig(row);
   }
   // Stores the variable, overwriting an existing value.
   void StoreConfig(const ConfigDefault &row);

   // Read a variable into |value| (the default when it is missing). Return
   // false when the value cannot be used: the select failed (which fails the
   // step, or under -X was passed over) or the step had failed already. The
   // caller then leaves alone whatever needed the value.
   bool ReadConfigText(const char *name, char *buffer, size_t size, const char *defaultValue);
   bool ReadConfigInt(const char *name, int32_t defaultValue, int32_t *value);
   bool ReadConfigUInt(const char *name, uint32_t defaultValue, uint32_t *value);

   // Inserts event templates into event_cfg, one statement each, in order.
   void AddEvents(const EventTemplate *rows, size_t count);
   template <size_t N>
   void AddEvents(const EventTemplate (&rows)[N])
   {
      AddEvents(rows, N);
   }

   // Inserts each tool followed by its table columns (rows of |columns| with
   // its id, in order), then one access row per tool for everyone
   // (user -2147483648).
   void AddObjectTools(ObjectToolColumns form, const ObjectTool *tools, size_t toolCount,
                       const ObjectToolColumn *columns, size_t columnCount);
   // Inserts one table column of an existing tool.
   void AddObjectToolColumn(const ObjectToolColumn &column);
   template <size_t N>
   void AddObjectTools(ObjectToolColumns form, const ObjectTool (&tools)[N])
   {
      AddObjectTools(form, tools, N, nullptr, 0);
   }
   template <size_t N, size_t M>
   void AddObjectTools(ObjectToolColumns form, const ObjectTool (&tools)[N], const ObjectToolColumn (&columns)[M])
   {
      AddObjectTools(form, tools, N, columns, M);
   }
   // The same without the access rows: for a tool put back under an id it
   // had before, which keeps the access rows it had.
   template <size_t N, size_t M>
   void AddObjectToolsKeepingAccess(ObjectToolColumns form, const ObjectTool (&tools)[N],
                                    const ObjectToolColumn (&columns)[M])
   {
      InsertObjectTools(form, tools, N, columns, M);
   }

   // Prints |question| (ending with "(Y/N) ") and asks; false without asking
   // once the step has failed.
   bool Ask(const char *question);

private:
   // Each tool followed by its table columns; no access rows.
   void InsertObjectTools(ObjectToolColumns form, const ObjectTool *tools, size_t toolCount,
                          const ObjectToolColumn *columns, size_t columnCount);

   bool ok_ = true;
   EffectInPlace alreadyDone_;
};

// The statement that stores |toVersion| in DBFormatVersion: the last of every step.
std::string VersionStatement(int toVersion);
