// Rebuilding a table under a new layout with its rows copied over, without
// ever leaving the database without the table's rows.
#pragma once

#include <functional>
#include <string>

#include "upgrade/step_runner.h"

// How the new table is created.
enum TableCreation
{
   CREATE_AS_WRITTEN,       // ExecStatement: no macros, no MySQL table type
   CREATE_WITH_TABLE_TYPE   // ExecCreateTable: macros replaced, the table type of -I/-M on MySQL
};

struct TableRebuild
{
   const char *table;        // the table rebuilt
   const char *layout;       // what follows "CREATE TABLE <name> ": the columns and the key
   TableCreation creation;
};

// Statement that copies row |row| (0, 1, 2, ... in order) into the table
// named |into|. Called once per row, in order, while the step is going.
typedef std::function<std::string(const char *into, int row)> RowCopy;

// Replaces |rebuild.table| by a table of the new layout holding the rows that
// |copy| writes for rows 0 .. |rows| - 1.
//
// Where DDL is part of the transaction, this is the plain sequence: drop the
// table, create it anew, insert the rows; a failure rolls all of it back.
// MySQL commits before every DDL statement, so there the rows go into a table
// under another name first, and only once they are all in does that table
// take the old one's place (one atomic RENAME); the old one is dropped last.
// A copy that fails leaves the old table as it was. Tables of those names left
// by an interrupted run are dropped before anything else.
void RebuildTable(StepRunner &step, const TableRebuild &rebuild, int rows, const RowCopy &copy);

// The names a rebuild on MySQL uses for the new table and for the old one
// between the swap and its drop.
std::string RebuildNewName(const char *table);
std::string RebuildOldName(const char *table);
