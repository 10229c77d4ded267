// Keeping a client library loaded for the life of the process.
#pragma once

#include <dlfcn.h>

// Makes the shared library that holds |symbol| stay loaded after the driver
// module is unloaded. Client libraries keep process-wide state (once-only
// set-up, thread keys, thread-local data) that is not made to be unloaded; the
// tool unloads its driver only just before it exits, so nothing is lost by
// keeping them. Returns true when the library is pinned.
inline bool PinLibraryOf(void *symbol)
{
   Dl_info info;
   if (dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
      return false;
   return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}
