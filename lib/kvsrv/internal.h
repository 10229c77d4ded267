// Private pieces shared by the driver library's source files.
#pragma once

#include "lib/kvsrv/kvsrv.h"
#include "lib/kvsrv/kvsrv_driver.h"

// The loaded driver, or nullptr.
const KvDriverApi *KvLoadedDriver();

// Creates an empty result; returns nullptr when out of memory.
DB_RESULT KvNewResult();
// The sink a driver feeds rows into; the context is the DB_RESULT.
int KvResultAddRow(void *result, int columns, const char *const *values, const size_t *lengths);
