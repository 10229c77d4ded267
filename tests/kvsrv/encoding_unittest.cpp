// The stored-text form and the field readers of the driver library.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/kvsrv/internal.h"
#include "tests/support/harness.h"

namespace {

std::string Encode(const std::string &text)
{
   char *e = EncodeSQLString(text.c_str());
   std::string s = e;
   free(e);
   return s;
}

std::string Decode(const std::string &text)
{
   std::string copy = text;
   DecodeSQLString(&copy[0]);
   return copy.c_str();
}

TEST(StoredText, Encode)
{
   struct Case
   {
      std::string plain, stored;
   } cases[] = {
      {"", "#00"},
      {"plain text 123", "plain text 123"},
      {"#'\"%\\", "#23#27#22#25#5C"},
      {"a\r\nb\tc", "a#0D#0Ab#09c"},
      {"\x01\x1F\x7F", "#01#1F#7F"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},  // bytes above 0x7F pass unchanged
   };
   for (const Case &c : cases)
   {
      EXPECT_EQ(c.stored, Encode(c.plain)) << c.plain;
      EXPECT_EQ(c.plain, Decode(c.stored)) << c.stored;
   }
   // Every byte but zero survives a round trip.
   std::string all;
   for (int b = 1; b < 256; b++)
      all += (char)b;
   EXPECT_EQ(all, Decode(Encode(all)));
   EXPECT_EQ(std::string::npos, Encode(all).find_first_of("'\"%\\"));
}

TEST(StoredText, DecodeLeavesMalformedEscapes)
{
   struct Case
   {
      std::string stored, plain;
   } cases[] = {
      {"#", "#"},
      {"#4", "#4"},
      {"#G1", "#G1"},
      {"50#", "50#"},
      {"#4#41", "#4A"},
      {"##41", "#A"},
      {"#0d#0a", "\r\n"},
      {"#00tail", ""},  // the stored empty text ends the value
   };
   for (const Case &c : cases)
      EXPECT_EQ(c.plain, Decode(c.stored)) << c.stored;
}

}  // namespace

namespace {

// A one-row, one-column result holding |text|, built the way a driver feeds rows.
DB_RESULT OneField(const char *text)
{
   DB_RESULT r = KvNewResult();
   size_t length = strlen(text);
   KvResultAddRow(r, 1, &text, &length);
   return r;
}

TEST(FieldReaders, Numbers)
{
   struct Case
   {
      const char *text;
      int32_t asLong;
      uint32_t asULong;
   } cases[] = {
      {"83", 83, 83},
      {"-2147483648", INT32_MIN, 0x80000000u},
      {"2147483648", INT32_MIN, 0x80000000u},  // the same 32 bits either way
      {"4294967295", -1, 0xFFFFFFFFu},
      {"-1", -1, 0xFFFFFFFFu},
      {"12abc", 12, 12},
      {"", 0, 0},
      {"abc", 0, 0},
   };
   for (const Case &c : cases)
   {
      DB_RESULT r = OneField(c.text);
      EXPECT_EQ(c.asLong, DBGetFieldLong(r, 0, 0)) << c.text;
      EXPECT_EQ(c.asULong, DBGetFieldULong(r, 0, 0)) << c.text;
      DBFreeResult(r);
   }
}

TEST(FieldReaders, IPv4Addresses)
{
   struct Case
   {
      const char *text;
      uint32_t address;
   } cases[] = {
      {"10.0.0.1", 0x0A000001u}, {"255.255.255.255", 0xFFFFFFFFu}, {"0.0.0.0", 0}, {"192.168.1.20", 0xC0A80114u},
      {"256.0.0.1", 0},          {"10.0.0", 0},                     {"10.0.0.1.5", 0}, {"", 0},
      {"a.b.c.d", 0},
   };
   for (const Case &c : cases)
   {
      DB_RESULT r = OneField(c.text);
      EXPECT_EQ(c.address, DBGetFieldIPAddr(r, 0, 0)) << c.text;
      DBFreeResult(r);
   }
}

TEST(FieldReaders, GetFieldCutsToBufferAndHandlesOutOfRange)
{
   DB_RESULT r = OneField("0123456789");
   char buffer[8];
   EXPECT_STREQ("0123456", DBGetField(r, 0, 0, buffer, sizeof(buffer)));
   EXPECT_STREQ("", DBGetField(r, 1, 0, buffer, sizeof(buffer)));
   EXPECT_STREQ("", DBGetField(r, 0, 1, buffer, sizeof(buffer)));
   EXPECT_EQ(1, DBGetNumRows(r));
   DBFreeResult(r);
}

}  // namespace
