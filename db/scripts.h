// Embedded multi-statement scripts, the column-type macros of the dialects,
// table creation and primary keys, and composing statements to their full length.
#pragma once

#include <string>

#include "db/dialects.h"
#include "db/statements.h"

// Runs a script: one statement per line, lines separated by '\n', ending with
// the line "<END>". Macros are replaced first; each line is echoed under -t and
// a failed line is reported. Returns true when it reached "<END>" (or the end
// of the text), false at the first failed line unless -X lets it go on.
// |alreadyDone| as for ExecStatement, for every line.
bool RunScript(const char *script, EffectInPlace alreadyDone = nullptr);

// Runs one CREATE TABLE statement with its macros replaced and, on MySQL, the
// table type of -I/-M appended. Returns the result of ExecStatement.
bool ExecCreateTable(const char *statement, EffectInPlace alreadyDone = nullptr);

// Adds a primary key on |columns| (comma-separated) of |table|. Returns true on
// success; on SQLite, which cannot add one afterwards, returns true and runs nothing.
bool AddPrimaryKey(const char *table, const char *columns, EffectInPlace alreadyDone = nullptr);

// Returns |text| with every single quote doubled, so that text copied from the
// database or the configuration between single quotes of a statement stays one
// literal. Text without quotes comes back unchanged. This is the one quoting
// rule of every dialect: a backslash is left alone, and on MySQL the session
// runs without backslash escapes (the driver sets it at connect) so that a
// backslash cannot end the literal there either.
std::string DoubleQuotes(const char *text);
