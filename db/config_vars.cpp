// Configuration variables.
#include "db/config_vars.h"

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"
#include "lib/kvsrv/kvsrv.h"

namespace {

// Longest variable name that is looked up at all.
const size_t kMaxNameLength = 127;

std::string ValueQuery(const char *name)
{
   return "SELECT var_value FROM config WHERE var_name='" + DoubleQuotes(name) + "'";
}

// strtol with base 0, saturating at the limits of 32 bits as a 32-bit long
// does: an out-of-range value must not wrap into some unrelated number.
int32_t ToInt32(const char *text)
{
   long long value = strtoll(text, nullptr, 0);
   if (value > INT32_MAX)
      return INT32_MAX;
   if (value < INT32_MIN)
      return INT32_MIN;
   return (int32_t)value;
}

// strtoul with base 0 as a 32-bit unsigned long works: a minus sign negates
// the magnitude modulo 2^32 ("-1" is all bits set), and a magnitude beyond 32
// bits saturates.
uint32_t ToUInt32(const char *text)
{
   const char *p = text;
   while (isspace((unsigned char)*p))
      p++;
   bool negative = (*p == '-');
   if (*p == '-' || *p == '+')
      p++;
   if (*p == '-' || *p == '+')
      return 0;  // a second sign is no number
   unsigned long long magnitude = strtoull(p, nullptr, 0);
   if (magnitude > UINT32_MAX)
      return UINT32_MAX;
   return negative ? (uint32_t)(0u - (uint32_t)magnitude) : (uint32_t)magnitude;
}

// Takes the first row's value from the result of ValueQuery and frees it.
ConfigRead TakeValue(DB_RESULT result, std::string *value)
{
   if (result == nullptr)
      return CONFIG_READ_FAILED;
   bool found = DBGetNumRows(result) > 0;
   if (found && value != nullptr)
      *value = DBGetFieldText(result, 0, 0);
   DBFreeResult(result);
   return found ? CONFIG_FOUND : CONFIG_MISSING;
}

}  // namespace

ConfigRead ReadConfigText(const char *name, char *buffer, size_t size, const char *defaultValue)
{
   if (size == 0)
      return CONFIG_MISSING;
   strncpy(buffer, defaultValue, size - 1);
   buffer[size - 1] = 0;
   if (strlen(name) > kMaxNameLength)
      return CONFIG_MISSING;
   std::string value;
   ConfigRead read = TakeValue(ExecSelect(ValueQuery(name).c_str()), &value);
   if (read == CONFIG_FOUND)
   {
      snprintf(buffer, size, "%s", value.c_str());
      DecodeSQLString(buffer);
   }
   return read;
}

ConfigRead ReadConfigQuietly(const char *name, std::string *value)
{
   return TakeValue(DBSelect(g_hConnection, ValueQuery(name).c_str()), value);
}

ConfigRead ReadConfigInt(const char *name, int32_t defaultValue, int32_t *value)
{
   char text[64];
   ConfigRead read = ReadConfigText(name, text, sizeof(text), "");
   *value = (read == CONFIG_FOUND) ? ToInt32(text) : defaultValue;
   return read;
}

ConfigRead ReadConfigUInt(const char *name, uint32_t defaultValue, uint32_t *value)
{
   char text[64];
   ConfigRead read = ReadConfigText(name, text, sizeof(text), "");
   *value = (read == CONFIG_FOUND) ? ToUInt32(text) : defaultValue;
   return read;
}

bool PutConfigVariable(const char *name, const char *value, int isVisible, int needServerRestart, bool overwrite)
{
   // A failed existence test counts as absent: the INSERT then fails, or
   // creates the variable, and is reported either way.
   bool exists = ReadConfigQuietly(name) == CONFIG_FOUND;
   if (exists && !overwrite)
      return true;

   char *encoded = EncodeSQLString(value);
   std::string quotedName = DoubleQuotes(name);
   std::string statement;
   if (exists)
      statement = FormatStatement("UPDATE config SET var_value='%s' WHERE var_name='%s'", encoded, quotedName.c_str());
   else
      statement = FormatStatement(
         "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('%s','%s',%d,%d)",
         quotedName.c_str(), encoded, isVisible, needServerRestart);
   free(encoded);
   return ExecStatement(statement.c_str());
}
