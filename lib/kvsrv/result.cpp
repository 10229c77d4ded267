// Select results held in memory: the field texts of all rows packed into a few
// large blocks, with one pointer per field.
#include "lib/kvsrv/internal.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

struct KvResult
{
   int columns = -1;  // set by the first row
   std::vector<const char *> fields;  // rows * columns pointers into the blocks
   std::vector<std::unique_ptr<char[]>> blocks;
   size_t blockUsed = 0;
   size_t blockSize = 0;
};

namespace {

const size_t kMinBlockSize = 256 * 1024;
const char kEmpty[] = "";

// Returns room for |length| bytes, adding a block when the current one is full.
// Blocks grow with the result so that large results need few of them, and are
// never copied: a full block stays where it is.
char *Reserve(KvResult *r, size_t length)
{
   if (r->blocks.empty() || r->blockSize - r->blockUsed < length)
   {
      size_t size = r->blocks.empty() ? kMinBlockSize : r->blockSize + r->blockSize / 2;
      if (size > 64 * 1024 * 1024)
         size = 64 * 1024 * 1024;
      if (size < length)
         size = length;
      char *block = new (std::nothrow) char[size];
      if (block == nullptr)
         return nullptr;
      r->blocks.emplace_back(block);
      r->blockSize = size;
      r->blockUsed = 0;
   }
   char *p = r->blocks.back().get() + r->blockUsed;
   r->blockUsed += length;
   return p;
}

const char *Field(DB_RESULT result, int row, int column)
{
   if (result == nullptr || row < 0 || column < 0 || column >= result->columns)
      return kEmpty;
   size_t index = (size_t)row * (size_t)result->columns + (size_t)column;
   if (index >= result->fields.size())
      return kEmpty;
   return result->fields[index];
}

}  // namespace

DB_RESULT KvNewResult()
{
   return new (std::nothrow) KvResult();
}

int KvResultAddRow(void *context, int columns, const char *const *values, const size_t *lengths)
{
   KvResult *r = static_cast<KvResult *>(context);
   if (r->columns < 0)
      r->columns = columns;
   if (columns != r->columns)
      return 0;
   try
   {
      for (int i = 0; i < columns; i++)
      {
         if (values[i] == nullptr || lengths[i] == 0)
         {
            r->fields.push_back(kEmpty);
            continue;
         }
         char *p = Reserve(r, lengths[i] + 1);
         if (p == nullptr)
            return 0;
         memcpy(p, values[i], lengths[i]);
         p[lengths[i]] = 0;
         r->fields.push_back(p);
      }
   }
   catch (const std::bad_alloc &)
   {
      return 0;
   }
   return 1;
}

int DBGetNumRows(DB_RESULT result)
{
   if (result == nullptr || result->columns <= 0)
      return 0;
   return (int)(result->fields.size() / (size_t)result->columns);
}

int DBGetNumColumns(DB_RESULT result)
{
   return (result == nullptr || result->columns < 0) ? 0 : result->columns;
}

const char *DBGetFieldText(DB_RESULT result, int row, int column)
{
   return Field(result, row, column);
}

char *DBGetField(DB_RESULT result, int row, int column, char *buffer, int size)
{
   if (size <= 0)
      return buffer;
   const char *text = Field(result, row, column);
   size_t length = strlen(text);
   if (length > (size_t)size - 1)
      length = (size_t)size - 1;
   memcpy(buffer, text, length);
   buffer[length] = 0;
   return buffer;
}

int32_t DBGetFieldLong(DB_RESULT result, int row, int column)
{
   return (int32_t)strtol(Field(result, row, column), nullptr, 10);
}

uint32_t DBGetFieldULong(DB_RESULT result, int row, int column)
{
   // Ids are unsigned but some engines hand back the signed reading of the
   // same 32 bits ("-2147483648" for 0x80000000); both mean the same id.
   const char *text = Field(result, row, column);
   while (*text == ' ')
      text++;
   if (*text == '-')
      return (uint32_t)(int32_t)strtol(text, nullptr, 10);
   return (uint32_t)strtoul(text, nullptr, 10);
}

uint32_t DBGetFieldIPAddr(DB_RESULT result, int row, int column)
{
   const char *p = Field(result, row, column);
   uint32_t address = 0;
   for (int part = 0; part < 4; part++)
   {
      if (*p < '0' || *p > '9')
         return 0;
      uint32_t octet = 0;
      int digits = 0;
      while (*p >= '0' && *p <= '9')
      {
         octet = octet * 10 + (uint32_t)(*p - '0');
         if (++digits > 3 || octet > 255)
            return 0;
         p++;
      }
      address = (address << 8) | octet;
      if (part < 3)
      {
         if (*p != '.')
            return 0;
         p++;
      }
   }
   return (*p == 0 || *p == ' ') ? address : 0;
}

void DBFreeResult(DB_RESULT result)
{
   delete result;
}
