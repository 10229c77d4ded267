// Private pieces shared by the driver library's source files.
#pragma once

#include <string>
#include <vector>

#include "lib/kvsrv/kvsrv.h"
#include "lib/kvsrv/kvsrv_driver.h"

// The loaded driver, or nullptr.
const KvDriverApi *KvLoadedDriver();

// Creates an empty result; returns nullptr when out of memory.
DB_RESULT KvNewResult();
// The sink a driver feeds rows into; the context is the DB_RESULT.
int KvResultAddRow(void *result, int columns, const char *const *values, const size_t *lengths);

// Where DBInit looks for the driver named |name|, in search order: the name
// itself when it holds a path separator; otherwise (with ".ddr" appended when
// the name has no extension) |envDir|, then |exeDir|, then the installed driver
// directories relative to it: |exeDir|/../lib/korvel and, where the build knows
// its multiarch triplet, |exeDir|/../lib/<triplet>/korvel. Empty folders are left out.
std::vector<std::string> KvDriverSearchPaths(const std::string &name, const char *envDir, const std::string &exeDir);
