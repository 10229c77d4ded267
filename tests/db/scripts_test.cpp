// Scripts, macros, table creation and configuration variables, called in this
// process on a connection to the engine under test.
#include <stdint.h>

#include <string>

#include "db/config_vars.h"
#include "db/scripts.h"
#include "db/settings.h"
#include "tests/support/access_layer.h"

namespace {

TEST_F(AccessLayerTest, ScriptRunsLinesUpToTheEndMarker)
{
   struct Case
   {
      const char *script;
      bool skipErrors;
      bool result;
      const char *rows;      // the values in script_t afterwards, in order
      int failures;          // "SQL query failed" reports
   } cases[] = {
      {"<END>\nINSERT INTO script_t VALUES (1)\n<END>", false, true, "", 0},
      {"INSERT INTO script_t VALUES (1)\nINSERT INTO missing_t VALUES (2)\nINSERT INTO script_t VALUES (3)\n<END>",
       false, false, "1", 1},
      {"INSERT INTO script_t VALUES (1)\nINSERT INTO missing_t VALUES (2)\nINSERT INTO script_t VALUES (3)\n<END>",
       true, true, "13", 1},
      // Only the exact line "<END>" ends a script: these are sent as statements.
      {"INSERT INTO script_t VALUES (1)\n<END> \nINSERT INTO script_t VALUES (2)\n<END>", false, false, "1", 1},
      {"INSERT INTO script_t VALUES (1)\n<end>\nINSERT INTO script_t VALUES (2)\n<END>", true, true, "12", 1},
      {"INSERT INTO script_t VALUES (1)\n <END>\n<END>", false, false, "1", 1},
      // A script without the marker ends with its text.
      {"INSERT INTO script_t VALUES (4)\nINSERT INTO script_t VALUES (5)", false, true, "45", 0},
   };
   for (const Case &c : cases)
   {
      ASSERT_TRUE(db().Exec("CREATE TABLE script_t (v integer)"));
      g_bSkipErrors = c.skipErrors;
      Capture();
      bool result = RunScript(c.script);
      std::string out = Captured();
      EXPECT_EQ(c.result, result) << c.script;
      std::string rows;
      for (const auto &row : db().Query("SELECT v FROM script_t"))
         rows += row[0];
      EXPECT_EQ(c.rows, rows) << c.script;
      int failures = 0;
      for (size_t p = out.find("SQL query failed ("); p != std::string::npos; p = out.find("SQL query failed (", p + 1))
         failures++;
      EXPECT_EQ(c.failures, failures) << c.script << "\n" << out;
      ASSERT_TRUE(db().Exec("DROP TABLE script_t"));
   }
}

TEST_F(AccessLayerTest, MacrosAndTableTypeUnderTrace)
{
   g_bShowQueries = true;
   g_pszTableType = " ENGINE=InnoDB";
   const std::string text = ColumnTypeNames[g_nSyntax].text;
   const std::string int64 = ColumnTypeNames[g_nSyntax].int64;
   Capture();
   EXPECT_TRUE(RunScript("CREATE TABLE macro_s (a $SQL:TEXT,b $SQL:INT64,c $SQL:TEXT)\n"
                         "INSERT INTO macro_s (a,b,c) VALUES ('$SQL:INT64',1,'x')\n<END>"));
   EXPECT_TRUE(ExecCreateTable("CREATE TABLE macro_c (a $SQL:TEXT not null,b $SQL:INT64)"));
   std::string out = Captured();
   // Scripts get the macros replaced, also inside quoted values, but never a
   // table type; ExecCreateTable adds it on MySQL only.
   EXPECT_EQ(">>> CREATE TABLE macro_s (a " + text + ",b " + int64 + ",c " + text + ")\n" +
                ">>> INSERT INTO macro_s (a,b,c) VALUES ('" + int64 + "',1,'x')\n" +
                ">>> CREATE TABLE macro_c (a " + text + " not null,b " + int64 + ")" +
                (IsMySql() ? " ENGINE=InnoDB" : "") + "\n",
             out);
   EXPECT_EQ(int64, db().Value("SELECT a FROM macro_s"));
   ASSERT_TRUE(db().Exec("INSERT INTO macro_c (a,b) VALUES ('x',9000000000)"));
   EXPECT_EQ("9000000000", db().Value("SELECT b FROM macro_c"));
   if (IsMySql())
   {
      g_pszTableType = " ENGINE=MyISAM";
      EXPECT_TRUE(ExecCreateTable("CREATE TABLE macro_m (a integer)"));
      EXPECT_EQ("MyISAM", db().Value("SELECT engine FROM information_schema.tables WHERE table_schema=DATABASE() "
                                     "AND table_name='macro_m'"));
      EXPECT_EQ("InnoDB", db().Value("SELECT engine FROM information_schema.tables WHERE table_schema=DATABASE() "
                                     "AND table_name='macro_s'"));
   }
}

TEST_F(AccessLayerTest, PrimaryKeys)
{
   g_bShowQueries = true;
   ASSERT_TRUE(db().Exec("CREATE TABLE pk_t (a integer not null, b integer not null)"));
   Capture();
   EXPECT_TRUE(AddPrimaryKey("pk_t", "a,b"));
   std::string out = Captured();
   if (g_nSyntax == DB_SYNTAX_SQLITE)
   {
      EXPECT_EQ("", out);   // SQLite cannot add a key afterwards: nothing runs, nothing shows
      return;
   }
   EXPECT_EQ(">>> ALTER TABLE pk_t ADD PRIMARY KEY (a,b)\n", out);
   ASSERT_TRUE(db().Exec("INSERT INTO pk_t VALUES (1,2)"));
   EXPECT_FALSE(db().Exec("INSERT INTO pk_t VALUES (1,2)"));
   Capture();
   EXPECT_FALSE(AddPrimaryKey("pk_t", "a"));   // already has one
   EXPECT_NE(std::string::npos, Captured().find("SQL query failed ("));
}

TEST_F(AccessLayerTest, ReadingVariables)
{
   db().SetConfig("Empty", "#00");
   db().SetConfig("Octal", "010");
   db().SetConfig("Hex", "0x10");
   db().SetConfig("Trailing", "12abc");
   db().SetConfig("Minus", "-1");
   db().SetConfig("Word", "abc");
   db().SetConfig("Huge", "99999999999");
   db().SetConfig("Encoded", "a#20b#25");
   struct Case
   {
      const char *name;
      bool found;
      const char *text;
      int32_t asInt;        // default 77
      uint32_t asUInt;      // default 77
   } cases[] = {
      {"Missing", false, "dflt", 77, 77},
      {"Empty", true, "", 0, 0},   // an empty value is a value, not the default
      {"Octal", true, "010", 8, 8},
      {"Hex", true, "0x10", 16, 16},
      {"Trailing", true, "12abc", 12, 12},
      {"Minus", true, "-1", -1, 0xFFFFFFFFu},
      {"Word", true, "abc", 0, 0},
      {"Huge", true, "99999999999", INT32_MAX, UINT32_MAX},   // saturates, never wraps
      {"Encoded", true, "a b%", 0, 0},
   };
   for (const Case &c : cases)
   {
      ConfigRead read = c.found ? CONFIG_FOUND : CONFIG_MISSING;
      char buffer[64];
      EXPECT_EQ(read, ReadConfigText(c.name, buffer, sizeof(buffer), "dflt")) << c.name;
      EXPECT_STREQ(c.text, buffer) << c.name;
      int32_t asInt;
      EXPECT_EQ(read, ReadConfigInt(c.name, 77, &asInt)) << c.name;
      EXPECT_EQ(c.asInt, asInt) << c.name;
      uint32_t asUInt;
      EXPECT_EQ(read, ReadConfigUInt(c.name, 77, &asUInt)) << c.name;
      EXPECT_EQ(c.asUInt, asUInt) << c.name;
   }

   // A 16-byte buffer takes 15 characters of the value or of the default.
   db().SetConfig("Long", "abcdefghijklmnopqrstuvwxyz");
   char small[16];
   EXPECT_EQ(CONFIG_FOUND, ReadConfigText("Long", small, sizeof(small), ""));
   EXPECT_STREQ("abcdefghijklmno", small);
   EXPECT_EQ(CONFIG_MISSING, ReadConfigText("Missing", small, sizeof(small), "0123456789ABCDEFGHIJ"));
   EXPECT_STREQ("0123456789ABCDE", small);

   // Under -t the select is shown, also for a missing variable; a name of 128
   // characters or more is not looked up at all.
   g_bShowQueries = true;
   Capture();
   EXPECT_EQ(CONFIG_MISSING, ReadConfigText("Missing", small, sizeof(small), "d"));
   EXPECT_EQ(CONFIG_MISSING, ReadConfigText(std::string(128, 'n').c_str(), small, sizeof(small), "d"));
   EXPECT_STREQ("d", small);
   EXPECT_EQ(CONFIG_MISSING, ReadConfigText(std::string(127, 'n').c_str(), small, sizeof(small), "d"));
   EXPECT_EQ(">>> SELECT var_value FROM config WHERE var_name='Missing'\n"
             ">>> SELECT var_value FROM config WHERE var_name='" + std::string(127, 'n') + "'\n",
             Captured());
}

TEST_F(AccessLayerTest, StoringVariables)
{
   db().SetConfig("Kept", "old");
   ASSERT_TRUE(db().Exec("UPDATE config SET is_visible=0,need_server_restart=1 WHERE var_name='Kept'"));
   g_bShowQueries = true;

   // Existing and not to be overwritten: nothing runs, nothing shows.
   Capture();
   EXPECT_TRUE(PutConfigVariable("Kept", "new", 1, 0, false));
   EXPECT_EQ("", Captured());
   EXPECT_EQ("old", Config("Kept"));

   // Overwritten: the value only; the flags stay.
   Capture();
   EXPECT_TRUE(PutConfigVariable("Kept", "it's 100%", 1, 0, true));
   EXPECT_EQ(">>> UPDATE config SET var_value='it#27s 100#25' WHERE var_name='Kept'\n", Captured());
   EXPECT_EQ((Rows{{"it#27s 100#25", "0", "1"}}),
             db().Query("SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='Kept'"));

   // Absent: created with the flags; an empty value in its stored form.
   Capture();
   EXPECT_TRUE(PutConfigVariable("Fresh", "", 1, 1, false));
   EXPECT_EQ(">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('Fresh','#00',1,1)\n",
             Captured());
   EXPECT_EQ((Rows{{"#00", "1", "1"}}),
             db().Query("SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='Fresh'"));

   // A quote in a name stays inside its literal, and the name reads back.
   EXPECT_TRUE(PutConfigVariable("Odd'Name", "v", 0, 0, false));
   char buffer[16];
   EXPECT_EQ(CONFIG_FOUND, ReadConfigText("Odd'Name", buffer, sizeof(buffer), ""));
   EXPECT_STREQ("v", buffer);

   // A value far beyond any fixed statement buffer is stored whole (no cut).
   std::string big(3000, 'x');
   db().Exec("DROP TABLE config");
   ASSERT_TRUE(db().Exec("CREATE TABLE config (var_name varchar(63) not null, var_value varchar(4000), "
                         "is_visible integer, need_server_restart integer)"));
   g_bShowQueries = false;
   EXPECT_TRUE(PutConfigVariable("Big", big.c_str(), 1, 0, false));
   EXPECT_EQ(big, Config("Big"));

   // A failed write is reported and returns false.
   ASSERT_TRUE(db().Exec("DROP TABLE config"));
   Capture();
   EXPECT_FALSE(PutConfigVariable("Any", "1", 1, 0, false));
   std::string out = Captured();
   EXPECT_EQ(0u, out.find("SQL query failed (")) << out;
   EXPECT_NE(std::string::npos,
             out.find("):\nINSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('Any','1',1,0)\n"))
      << out;
}

}  // namespace
