// Rebuilding the fixed list of single-column indexes.
#pragma once

// The reindex command. Returns false when refused (format version, lock) or
// when an index could not be created.
bool RunReindexCommand();
