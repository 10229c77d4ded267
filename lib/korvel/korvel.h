// The common runtime library: configuration loading, whole-file reads, macro
// replacement, option parsing and UUIDs.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Kinds of a configuration template entry.
enum : uint8_t
{
   CT_STRING = 1,      // value copied into the destination buffer
   CT_IGNORE = 6,      // keyword accepted, value not stored
   CT_END_OF_LIST = 3  // terminates the template
};

// One keyword the configuration loader accepts.
struct ConfigTemplateEntry
{
   char keyword[64];
   uint8_t kind;
   uint8_t reserved1;
   uint16_t reserved2;
   uint32_t bufferSize;   // destination size in bytes, terminating zero included
   uint32_t reserved3;
   void *destination;
};

// Loads the "Keyword = Value" file at |path| into the destinations named by
// |cfgTemplate|. Returns 0 on success. On any error (file unreadable, unknown
// keyword, malformed line, value longer than its buffer) prints one line naming
// the file and line to stderr and returns nonzero; buffers of keywords that were
// not reached or not present keep their contents. |section| and |flags| are
// accepted for compatibility and must be "" and 1.
uint32_t KvLoadConfig(const char *path, const char *section, const ConfigTemplateEntry *cfgTemplate, int flags);

// Reads the whole file. Returns a malloc'ed buffer holding the file's bytes
// followed by one extra zero byte (not counted in *size), or nullptr when the
// file cannot be read or is larger than 4 GiB. The caller frees it.
char *LoadFile(const char *path, uint32_t *size);

// Replaces every occurrence of |macro| in |text| by |replacement|, in place.
// Returns false and leaves the text alone when the replacement is longer than
// the macro, since the text can never grow.
bool TranslateStr(char *text, const char *macro, const char *replacement);

// POSIX option parsing: stops at the first argument that is not an option.
// Uses the C library's optarg, optind and opterr.
int KvGetOpt(int argc, char *const argv[], const char *optstring);

typedef unsigned char uuid_t[16];

// Fills |uuid| with a random version-4 UUID from the operating system's random source.
void uuid_generate(uuid_t uuid);

// Writes the 36-character lower-case text form into |buffer| (at least 37 bytes) and returns it.
char *uuid_to_string(const uuid_t uuid, char *buffer);
