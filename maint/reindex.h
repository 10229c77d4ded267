// Rebuilding the fixed list of single-column indexes.
#pragma once

#include <string>

// The statement that drops |index| of |table| in the connected dialect:
// MySQL names the table after ON, MSSQL qualifies the index with the table.
std::string DropIndexStatement(const char *index, const char *table);

// Drops (silently, it may not exist) and re-creates one index. Returns the
// result of the CREATE INDEX statement.
bool RebuildIndex(const char *index, const char *table, const char *column);

// The reindex command. Returns false when refused (format version, lock) or
// when an index could not be created.
bool RunReindexCommand();
