// Rebuilding the fixed list of single-column indexes.
#pragma once

// Drops (silently, it may not exist) and re-creates one index. Returns the
// result of the CREATE INDEX statement.
bool RebuildIndex(const char *index, const char *table, const char *column);

// The reindex command. Returns false when refused (format version, lock) or
// when an index could not be created.
bool RunReindexCommand();
