// The batch command: splitting a file into statements and running them.
#include <string>

#include "tests/support/harness.h"
#include "tests/support/output.h"

namespace {

class BatchTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      std::string error;
      ASSERT_TRUE(db().Exec("CREATE TABLE t (id integer, v varchar(255))", &error)) << error;
   }

   // The rows of t as "id=v" lines, in id order.
   std::string Rows()
   {
      std::string text;
      for (const auto &row : db().Query("SELECT id, v FROM t ORDER BY id"))
         text += row[0] + "=" + row[1] + "\n";
      return text;
   }
};

TEST_F(BatchTest, Splitter)
{
   const std::string a = "INSERT INTO t VALUES (1,'a')";
   const std::string b = "INSERT INTO t VALUES (2,'b')";
   struct Case
   {
      const char *what;
      std::string file;
      std::string rows;
   } cases[] = {
      {"LF line ends", a + ";\n" + b + ";\n", "1=a\n2=b\n"},
      {"CRLF line ends", a + ";\r\n" + b + ";\r\n", "1=a\n2=b\n"},
      {"';' inside quotes", "INSERT INTO t VALUES (1,'x;y');\n", "1=x;y\n"},
      {"doubled quotes", "INSERT INTO t VALUES (1,'it''s;ok');\n", "1=it's;ok\n"},
      {"a lone ';' line", a + ";\n;\n" + b + ";\n", "1=a\n2=b\n"},
      {"';;' right after a statement", a + ";;" + b + ";", "1=a\n2=b\n"},
      {"the skipped character", a + ";X" + b + ";Y", "1=a\n2=b\n"},
      {"last statement without ';' or line break", a + ";\nINSERT INTO t VALUES (2,'bc')", "1=a\n2=bc\n"},
      {"';' as the file's last character", a + ";", "1=a\n"},
      {"leading blank lines", "\n\n  \t" + a + ";\n", "1=a\n"},
      {"blank-only file", " \r\n\t\n", ""},
      {"empty file", "", ""},
   };
   for (const Case &c : cases)
   {
      ASSERT_TRUE(db().Exec("DELETE FROM t"));
      std::string path = db().dir().Write("batch.sql", c.file);
      ToolRun run = db().Run({"batch", path});
      EXPECT_EQ(kBanner, run.out) << c.what;
      EXPECT_EQ(0, run.exitCode) << c.what;
      EXPECT_EQ(c.rows, Rows()) << c.what;
   }
}

TEST_F(BatchTest, StopsAtTheFirstFailingStatement)
{
   std::string path = db().dir().Write(
      "batch.sql", "INSERT INTO t VALUES (1,'a');\nINSERT INTO no_such_table VALUES (2);\nINSERT INTO t VALUES (3,'c');\n");
   ToolRun run = db().Run({"batch", path});
   EXPECT_EQ(kBanner + "SQL query failed (ERR):\nINSERT INTO no_such_table VALUES (2)\n", MaskErrors(run.out));
   // The engine's own error text, before the statement, names the table.
   EXPECT_LT(run.out.find("no_such_table"), run.out.find("):\n")) << run.out;
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("1=a\n", Rows());  // the first stays applied, the third never ran
}

// A zero byte inside a statement would cut its text short: the server would run
// "DELETE ... WHERE id=1" without the rest of the condition.
TEST_F(BatchTest, NulByteStopsTheRunBeforeThatStatement)
{
   struct Case
   {
      const char *what;
      std::string file;
      unsigned offset;
      std::string rows;
   } cases[] = {
      {"inside a WHERE", std::string("INSERT INTO t VALUES (1,'a');\nDELETE FROM t WHERE id=1\0 AND v='z';\n", 67) +
                            "INSERT INTO t VALUES (3,'c');\n",
       30, "1=a\n"},
      {"inside quotes, last statement without ';'", std::string("INSERT INTO t VALUES (2,'b\0x')", 31), 0, ""},
   };
   for (const Case &c : cases)
   {
      ASSERT_TRUE(db().Exec("DELETE FROM t"));
      std::string path = db().dir().Write("batch.sql", c.file);
      ToolRun run = db().Run({"batch", path});
      EXPECT_EQ(kBanner + "ERROR: SQL command file " + path + " holds a NUL byte in the statement at byte " +
                   std::to_string(c.offset) + "; it and all that follow are not run\n",
                run.out)
         << c.what;
      EXPECT_EQ(7, run.exitCode) << c.what;
      EXPECT_EQ(c.rows, Rows()) << c.what;
   }
}

TEST_F(BatchTest, UnreadableFile)
{
   std::string path = db().dir().File("missing.sql");
   ToolRun run = db().Run({"batch", path});
   EXPECT_EQ(kBanner + "ERROR: Cannot load SQL command file " + path + "\n", run.out);
   EXPECT_EQ(7, run.exitCode);
}

TEST_F(BatchTest, TraceEchoesEachStatementAsSent)
{
   std::string path = db().dir().Write("batch.sql", "INSERT INTO t VALUES (1,'a');\r\nINSERT INTO t VALUES (2,'b');\r\n");
   ToolRun run = db().Run({"-t", "batch", path});
   // After CRLF the line feed opens the next statement and is sent with it.
   EXPECT_EQ(kBanner + ">>> INSERT INTO t VALUES (1,'a')\n>>> \nINSERT INTO t VALUES (2,'b')\n", run.out);
   EXPECT_EQ(0, run.exitCode);
}

}  // namespace
