// The server's configuration variables (rows of the config table): reading
// them with a default, and creating or overwriting them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// What a read of a variable found. A failed select is not "missing": a caller
// that would put a default in place of the stored value must tell them apart.
enum ConfigRead
{
   CONFIG_FOUND,
   CONFIG_MISSING,
   CONFIG_READ_FAILED
};

// Reads the variable |name| into |buffer| (|size| bytes), decoded from its
// stored-text form and cut to size-1 bytes; unless found, the buffer holds
// |defaultValue| (cut the same way). Names of 128 characters or more are never
// looked up (missing). The select is echoed under -t and its failure reported.
ConfigRead ReadConfigText(const char *name, char *buffer, size_t size, const char *defaultValue);

// Reads the variable |name| for the tool's own bookkeeping (the dialect, the
// format version, the lock, ...): the select goes straight to the driver, is
// not echoed under -t, and its failure is not reported, so that the caller
// decides what a failure means. Every name is looked up, whatever its length.
// When found and |value| is given, it gets the stored text whole: neither
// decoded nor cut, since callers differ in both; otherwise |value| is untouched.
ConfigRead ReadConfigQuietly(const char *name, std::string *value = nullptr);

// Reads the variable as a number in C notation (0x… hexadecimal, 0… octal,
// else decimal; conversion stops at the first character that does not fit, and
// no digits give 0) into |value|, which gets |defaultValue| unless found.
ConfigRead ReadConfigInt(const char *name, int32_t defaultValue, int32_t *value);
ConfigRead ReadConfigUInt(const char *name, uint32_t defaultValue, uint32_t *value);

// Stores |value| (encoded into stored-text form) as the variable |name|.
// An absent variable is created with |isVisible| and |needServerRestart|; an
// existing one keeps everything unless |overwrite| is set, and then gets the new
// value only. The existence test is neither echoed nor reported. Returns true on
// success (also when an existing variable is left alone).
bool PutConfigVariable(const char *name, const char *value, int isVisible, int needServerRestart, bool overwrite);
