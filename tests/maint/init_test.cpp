// The init command: a schema file, then fresh GUIDs for user 0 and group 0x80000000.
#include <string>

#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/support/output.h"

namespace {

// The two tables init writes GUIDs into, as a minimal schema.
const std::string kMiniSchema =
   "CREATE TABLE users (id integer not null, name varchar(63), guid varchar(36));\n"
   "CREATE TABLE user_groups (id integer not null, name varchar(63), guid varchar(36));\n"
   "INSERT INTO users (id,name,guid) VALUES (0,'admin','');\n"
   "INSERT INTO user_groups (id,name,guid) VALUES (-2147483648,'Everyone','');\n";

bool IsGuid(const std::string &s)
{
   if (s.size() != 36)
      return false;
   for (size_t i = 0; i < s.size(); i++)
   {
      bool dash = (i == 8 || i == 13 || i == 18 || i == 23);
      if (dash ? s[i] != '-' : !isxdigit((unsigned char)s[i]) || isupper((unsigned char)s[i]))
         return false;
   }
   return true;
}

class InitTest : public EngineTest
{
protected:
   // User 0 and group 0x80000000 each got a GUID of their own.
   void ExpectTwoDifferentGuids()
   {
      std::string user = db().Value("SELECT guid FROM users WHERE id=0");
      std::string group = db().Value("SELECT guid FROM user_groups WHERE id=-2147483648");
      EXPECT_TRUE(IsGuid(user)) << user;
      EXPECT_TRUE(IsGuid(group)) << group;
      EXPECT_NE(user, group);
   }
};

// The mini schema has no config table: init does not read the dialect.
TEST_F(InitTest, WritesTwoDifferentGuids)
{
   std::string path = db().dir().Write("schema.sql", kMiniSchema);
   ToolRun run = db().Run({"init", path});
   EXPECT_EQ(kBanner + "Initializing database...\nDatabase initialized successfully\n", run.out);
   EXPECT_EQ(0, run.exitCode);
   ExpectTwoDifferentGuids();
}

// The README's way to try an upgrade on a sample: init loads the format-69
// fixture whole (its comments hold nothing that splits a statement).
TEST_F(InitTest, LoadsTheFormat69Sample)
{
   std::string path = std::string(KV_SOURCE_DIR) + "/tests/fixtures/format69/" + CurrentEngine().dialect + ".sql";
   ToolRun run = db().Run({"init", path});
   EXPECT_EQ(kBanner + "Initializing database...\nDatabase initialized successfully\n", run.out) << run.err;
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("69", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
}

TEST_F(InitTest, TraceShowsTheGuidUpdates)
{
   std::string path = db().dir().Write("schema.sql", kMiniSchema);
   ToolRun run = db().Run({"-t", "init", path});
   std::string guid = db().Value("SELECT guid FROM users WHERE id=0");
   EXPECT_NE(std::string::npos, run.out.find(">>> UPDATE users SET guid='" + guid + "' WHERE id=0\n")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find(">>> UPDATE user_groups SET guid='")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("' WHERE id=-2147483648\nDatabase initialized successfully\n")) << run.out;
}

TEST_F(InitTest, Failures)
{
   // An empty file, and a file whose second statement fails: the first stays,
   // no GUID is written, and init says it failed.
   std::string path = db().dir().Write("empty.sql", "");
   ToolRun run = db().Run({"init", path});
   EXPECT_EQ(kBanner + "Initializing database...\nDatabase initialization failed\n", run.out);
   EXPECT_EQ(7, run.exitCode);

   path = db().dir().Write("bad.sql", "CREATE TABLE kept (id integer);\nINSERT INTO missing VALUES (1);\n" + kMiniSchema);
   run = db().Run({"init", path});
   EXPECT_EQ(kBanner + "Initializing database...\nSQL query failed (ERR):\nINSERT INTO missing VALUES (1)\n"
                       "Database initialization failed\n",
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM kept"));

   path = db().dir().File("missing.sql");
   run = db().Run({"init", path});
   EXPECT_EQ(kBanner + "Initializing database...\nERROR: Cannot load SQL command file " + path +
                "\nDatabase initialization failed\n",
             run.out);
   EXPECT_EQ(7, run.exitCode);
}

TEST_F(InitTest, ShippedSchemaGivesAWorkingDatabase)
{
   db().InitSchema();
   EXPECT_EQ("83", db().Value("SELECT var_value FROM config WHERE var_name='DBFormatVersion'"));
   EXPECT_EQ(db().syntax(), db().Value("SELECT var_value FROM config WHERE var_name='DBSyntax'"));
   ExpectTwoDifferentGuids();

   ToolRun run = db().Run({"unlock"});
   EXPECT_EQ(kBanner + "Database is not locked\n", run.out);
   EXPECT_EQ(0, run.exitCode);
   run = db().Run({"reindex"});
   EXPECT_EQ(0, run.exitCode) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("failed")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("Reindexing table address_lists by (list_type)...\n"
                                             "Database reindexing complete.\n"))
      << run.out;
}

}  // namespace
