// The front end against the engine under test: dialect detection.
#include <stdio.h>

#include <string>

#include "tests/support/harness.h"
#include "tests/support/output.h"

namespace {

class FrontEndTest : public EngineTest
{
};

TEST_F(FrontEndTest, NoConfigTableGivesExit5)
{
   ToolRun run = db().Run({"unlock"});
   EXPECT_EQ(kBanner + "Unable to determine database syntax\n", run.out);
   EXPECT_EQ(5, run.exitCode);
   // Standard error says what the likely causes are.
   const std::string hint = "has no readable config table: either DBName names the wrong database, or the database "
                            "is not initialised yet (kvdbmgr init <schema file>)\n";
   EXPECT_TRUE(EndsWith(run.err, hint)) << run.err;
}

TEST_F(FrontEndTest, UnknownSyntaxGivesExit6)
{
   db().CreateConfigTable(false);
   ToolRun run = db().Run({"unlock"});
   EXPECT_EQ(kBanner + "Unknown database syntax UNKNOWN\n", run.out);
   EXPECT_EQ(6, run.exitCode);

   db().SetConfig("DBSyntax", "mysql");
   run = db().Run({"unlock"});
   EXPECT_EQ(kBanner + "Unknown database syntax mysql\n", run.out);
   EXPECT_EQ(6, run.exitCode);
}

TEST_F(FrontEndTest, SyntaxIsDecodedAndExtraArgumentsIgnored)
{
   db().CreateConfigTable(false);
   // The dialect name is decoded from its stored-text form before it is compared
   // (only the first character is escaped: the name is read into 16 bytes).
   char first[4];
   snprintf(first, sizeof(first), "#%02X", (unsigned char)db().syntax()[0]);
   std::string encoded = first + db().syntax().substr(1);
   db().SetConfig("DBSyntax", encoded);
   ToolRun run = db().Run({"unlock", "extra", "arguments"});
   EXPECT_EQ(kBanner + "Database is not locked\n", run.out);
   EXPECT_EQ(0, run.exitCode);
}

}  // namespace
