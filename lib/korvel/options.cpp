// Option parsing with POSIX behaviour.
#include "lib/korvel/korvel.h"

#include <unistd.h>

#include <string>

int KvGetOpt(int argc, char *const argv[], const char *optstring)
{
#ifdef __GLIBC__
   // glibc permutes arguments unless told otherwise; a leading '+' asks for
   // the POSIX rule of stopping at the first non-option.
   static std::string posixOptions;
   if (posixOptions.empty() || posixOptions.compare(1, std::string::npos, optstring) != 0)
      posixOptions = std::string("+") + optstring;
   return getopt(argc, argv, posixOptions.c_str());
#else
   return getopt(argc, argv, optstring);
#endif
}
