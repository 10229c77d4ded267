// Driver conformance: what the tool relies on from every driver module, run
// against the engine under test. Each engine declares only its quirks (the
// texts of its errors) in the table below.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "lib/kvsrv/kvsrv.h"
#include "tests/support/engines.h"
#include "tests/support/harness.h"
#include "tests/support/results.h"

namespace {

struct Quirks
{
   const char *engine;
   const char *missingTable;  // part of the error text for a select from table "nosuch"
   const char *duplicateKey;  // part of the error text for a duplicate primary key
};

const Quirks kQuirks[] = {
   {"sqlite", "no such table: nosuch", "UNIQUE constraint failed"},
   {"pgsql", "relation \"nosuch\" does not exist", "duplicate key value violates unique constraint"},
   {"mysql", "nosuch' doesn't exist", "Duplicate entry '1' for key"},
   {"odbc", "relation \"nosuch\" does not exist", "duplicate key value violates unique constraint"},
};

const Quirks &EngineQuirks(const std::string &engine)
{
   for (const Quirks &q : kQuirks)
      if (engine == q.engine)
         return q;
   ADD_FAILURE() << "no quirks for " << engine;
   return kQuirks[0];
}

// A second connection of the test's own to the test database, for the
// transaction calls and error texts that TestDatabase does not expose.
class DriverTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      // TestDatabase has put its database into the connection parameters.
      handle_ = DBConnect();
      ASSERT_NE(nullptr, handle_);
      std::string error;
      ASSERT_TRUE(db().Exec("CREATE TABLE items (id integer not null, name varchar(2000), n integer, "
                            "PRIMARY KEY(id))",
                            &error))
         << error;
   }
   void TearDown() override
   {
      if (handle_ != nullptr)
         DBDisconnect(handle_);
      EngineTest::TearDown();
   }
   bool Exec(const std::string &statement, std::string *error = nullptr)
   {
      char text[1024] = "";
      bool ok = DBQueryEx(handle_, statement.c_str(), text);
      if (error != nullptr)
         *error = text;
      return ok;
   }
   // The rows as "a|b|c" lines, or one "<failed: error>" line.
   std::vector<std::string> Select(const std::string &query) { return SelectLines(handle_, query); }

   db_handle_t handle_ = nullptr;
};

TEST_F(DriverTest, SelectsReturnEveryRowAndFieldAsText)
{
   ASSERT_TRUE(Exec("INSERT INTO items (id,name,n) VALUES (1,'first',-2147483648)"));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name,n) VALUES (2,NULL,NULL)"));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name,n) VALUES (3,'it''s #27',4294967)"));
   // Longer than any small buffer a driver might start with.
   std::string longText(1500, 'x');
   longText += "end";
   ASSERT_TRUE(Exec("INSERT INTO items (id,name,n) VALUES (4,'" + longText + "',0)"));

   DB_RESULT r = DBSelect(handle_, "SELECT id,name,n FROM items ORDER BY id");
   ASSERT_NE(nullptr, r);
   EXPECT_EQ(4, DBGetNumRows(r));
   EXPECT_EQ(3, DBGetNumColumns(r));
   std::vector<std::string> expected = {"1|first|-2147483648", "2||", "3|it's #27|4294967", "4|" + longText + "|0"};
   EXPECT_EQ(expected, ResultLines(r));
   EXPECT_EQ(INT32_MIN, DBGetFieldLong(r, 0, 2));
   EXPECT_EQ(0x80000000u, DBGetFieldULong(r, 0, 2));
   EXPECT_EQ(0, DBGetFieldLong(r, 1, 2));  // NULL reads as 0
   char small[6];
   EXPECT_STREQ("first", DBGetField(r, 0, 1, small, sizeof(small)));
   EXPECT_STREQ("xxxxx", DBGetField(r, 3, 1, small, sizeof(small)));
   DBFreeResult(r);
}

TEST_F(DriverTest, EmptyResultsAndStatementsWithoutRows)
{
   DB_RESULT r = DBSelect(handle_, "SELECT id,name FROM items WHERE id=42");
   ASSERT_NE(nullptr, r) << "a select that finds nothing is not a failure";
   EXPECT_EQ(0, DBGetNumRows(r));
   EXPECT_STREQ("", DBGetFieldText(r, 0, 0));
   DBFreeResult(r);

   // Updates and deletes that touch no row succeed.
   std::string error;
   EXPECT_TRUE(Exec("UPDATE items SET n=1 WHERE id=42", &error)) << error;
   EXPECT_TRUE(Exec("DELETE FROM items WHERE id=42", &error)) << error;
}

TEST_F(DriverTest, ErrorsCarryTheEnginesText)
{
   const Quirks &q = EngineQuirks(db().engine());
   std::string error;
   EXPECT_FALSE(Exec("DELETE FROM nosuch", &error));
   EXPECT_NE(std::string::npos, error.find(q.missingTable)) << error;
   EXPECT_EQ(std::string::npos, error.find('\n')) << "one line: " << error;

   std::vector<std::string> rows = Select("SELECT id FROM nosuch");
   ASSERT_EQ(1u, rows.size());
   EXPECT_NE(std::string::npos, rows[0].find(q.missingTable)) << rows[0];
   EXPECT_EQ(nullptr, DBSelect(handle_, "SELECT id FROM nosuch"));

   ASSERT_TRUE(Exec("INSERT INTO items (id) VALUES (1)"));
   EXPECT_FALSE(Exec("INSERT INTO items (id) VALUES (1)", &error));
   EXPECT_NE(std::string::npos, error.find(q.duplicateKey)) << error;

   // The connection works on after failures, and none of them counts as a lost connection.
   EXPECT_EQ(std::vector<std::string>{"1"}, Select("SELECT id FROM items"));
   EXPECT_FALSE(DBConnectionLost(handle_));
}

std::vector<std::string> s_lostReports;

void RecordLostConnection(const char *error)
{
   s_lostReports.push_back(error);
}

// The server ends the session (as an administrator would); the next call fails,
// the connection counts as lost and the handler hears of it once, with the
// driver's one-line text.
TEST_F(DriverTest, SessionEndedByTheServerIsReportedLost)
{
   if (db().engine() == "sqlite")
      GTEST_SKIP() << "a database file has no session to end";
   bool postgres = db().syntax() == "PGSQL";
   std::vector<std::string> id = Select(postgres ? "SELECT pg_backend_pid()" : "SELECT CONNECTION_ID()");
   ASSERT_EQ(1u, id.size());
   std::string error;
   ASSERT_TRUE(db().Exec(postgres ? "SELECT pg_terminate_backend(" + id[0] + ")" : "KILL CONNECTION " + id[0], &error))
      << error;
   s_lostReports.clear();
   DBSetConnectionLostHandler(RecordLostConnection);
   bool ran = Exec("INSERT INTO items (id) VALUES (1)", &error);
   std::string ignored;
   bool ranAgain = Exec("DELETE FROM items", &ignored);
   DBSetConnectionLostHandler(nullptr);
   EXPECT_FALSE(ran);
   EXPECT_FALSE(ranAgain);
   EXPECT_TRUE(DBConnectionLost(handle_));
   ASSERT_EQ(1u, s_lostReports.size());
   EXPECT_EQ(error, s_lostReports[0]);
   EXPECT_EQ(std::string::npos, error.find('\n')) << "one line: " << error;
}

TEST_F(DriverTest, ResultStaysReadableAfterItsTableIsDropped)
{
   for (int i = 1; i <= 300; i++)
      ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (" + std::to_string(i) + ",'row " + std::to_string(i) +
                       "')"));
   DB_RESULT r = DBSelect(handle_, "SELECT id,name FROM items ORDER BY id");
   ASSERT_NE(nullptr, r);
   std::string error;
   ASSERT_TRUE(Exec("DROP TABLE items", &error)) << error;
   // Other statements and selects in between, on the same connection.
   ASSERT_TRUE(Exec("CREATE TABLE items (id integer)", &error)) << error;
   EXPECT_EQ(std::vector<std::string>{}, Select("SELECT id FROM items"));
   ASSERT_EQ(300, DBGetNumRows(r));
   EXPECT_STREQ("row 1", DBGetFieldText(r, 0, 1));
   EXPECT_STREQ("300", DBGetFieldText(r, 299, 0));
   EXPECT_STREQ("row 300", DBGetFieldText(r, 299, 1));
   DBFreeResult(r);
}

TEST_F(DriverTest, RollbackUndoesAndCommitKeeps)
{
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (1,'undone')"));
   ASSERT_TRUE(Exec("UPDATE items SET name='changed' WHERE id=1"));
   EXPECT_EQ(std::vector<std::string>{"changed"}, Select("SELECT name FROM items"));
   EXPECT_TRUE(DBRollback(handle_));
   EXPECT_EQ(std::vector<std::string>{}, Select("SELECT name FROM items"));

   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (2,'kept')"));
   EXPECT_TRUE(DBCommit(handle_));
   EXPECT_EQ("kept", db().Value("SELECT name FROM items"));

   // Outside a transaction every statement takes effect by itself: another
   // connection sees it at once.
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (3,'at once')"));
   EXPECT_EQ("at once", db().Value("SELECT name FROM items WHERE id=3"));
}

TEST_F(DriverTest, FailedStatementInsideTransactionCostsOnlyItself)
{
   // PostgreSQL aborts a transaction at the first failure; the driver's
   // savepoints (and the ODBC data source's statement-level rollback) make it
   // behave like the other engines: the failed statement is undone, the rest
   // of the transaction goes on and is committed.
   const Quirks &q = EngineQuirks(db().engine());
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (1,'before')"));
   std::string error;
   EXPECT_FALSE(Exec("INSERT INTO items (id,name) VALUES (1,'duplicate')", &error));
   EXPECT_NE(std::string::npos, error.find(q.duplicateKey)) << error;
   EXPECT_FALSE(Exec("UPDATE nosuch SET a=1", &error));
   EXPECT_NE(std::string::npos, error.find(q.missingTable)) << error;
   std::vector<std::string> failed = Select("SELECT a FROM nosuch");
   ASSERT_EQ(1u, failed.size());
   EXPECT_NE(std::string::npos, failed[0].find(q.missingTable)) << failed[0];
   EXPECT_TRUE(Exec("INSERT INTO items (id,name) VALUES (2,'after')", &error)) << error;
   EXPECT_EQ((std::vector<std::string>{"1|before", "2|after"}), Select("SELECT id,name FROM items ORDER BY id"));
   EXPECT_TRUE(DBCommit(handle_));
   EXPECT_EQ((Rows{{"1", "before"}, {"2", "after"}}), db().Query("SELECT id,name FROM items ORDER BY id"));

   // And a rollback after a failure still undoes everything.
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("DELETE FROM items"));
   EXPECT_FALSE(Exec("INSERT INTO nosuch VALUES (1)"));
   EXPECT_TRUE(DBRollback(handle_));
   EXPECT_EQ("2", db().Value("SELECT COUNT(*) FROM items"));
}

// On PostgreSQL a transaction begun inside another is a savepoint: the
// upgrade's dry run runs each step's transaction inside one that it rolls back.
TEST_F(DriverTest, NestedTransactionIsASavepointOnPostgresql)
{
   if (db().engine() != "pgsql")
      GTEST_SKIP() << "nested transactions are a PostgreSQL driver's feature";
   std::string error;
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (1,'outer')", &error)) << error;
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (2,'kept step')", &error)) << error;
   EXPECT_FALSE(Exec("INSERT INTO items (id,name) VALUES (2,'duplicate')"));   // costs only itself
   EXPECT_TRUE(DBCommit(handle_));
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (3,'undone step')", &error)) << error;
   ASSERT_TRUE(Exec("CREATE TABLE undone (a integer)", &error)) << error;
   EXPECT_TRUE(DBRollback(handle_));
   EXPECT_EQ((std::vector<std::string>{"1|outer", "2|kept step"}), Select("SELECT id,name FROM items ORDER BY id"));
   EXPECT_EQ(1u, Select("SELECT a FROM undone").size());   // one "<failed: ...>" line: the table is gone
   EXPECT_EQ("<failed", Select("SELECT a FROM undone")[0].substr(0, 7));
   // Nothing is visible outside before the outer transaction ends, and its
   // rollback takes back the committed inner one too.
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM items"));
   EXPECT_TRUE(DBRollback(handle_));
   EXPECT_EQ(std::vector<std::string>{}, Select("SELECT name FROM items"));
   // Outside any transaction again: a statement takes effect at once.
   ASSERT_TRUE(Exec("INSERT INTO items (id,name) VALUES (4,'at once')", &error)) << error;
   EXPECT_EQ("at once", db().Value("SELECT name FROM items WHERE id=4"));
}

TEST_F(DriverTest, CommitThatFailsIsReportedAsAFailure)
{
   // A deferred constraint is checked at COMMIT: the commit must fail and keep
   // nothing. Only PostgreSQL has deferred constraints among the engines here.
   if (db().syntax() != "PGSQL")
      GTEST_SKIP() << "no deferred constraints on " << db().engine();
   std::string error;
   ASSERT_TRUE(Exec("CREATE TABLE parent (id integer PRIMARY KEY)", &error)) << error;
   ASSERT_TRUE(Exec("CREATE TABLE child (parent_id integer REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)",
                    &error))
      << error;
   EXPECT_TRUE(DBBegin(handle_));
   ASSERT_TRUE(Exec("INSERT INTO items (id) VALUES (1)", &error)) << error;
   ASSERT_TRUE(Exec("INSERT INTO child VALUES (7)", &error)) << error;
   EXPECT_FALSE(DBCommit(handle_));
   EXPECT_EQ("0", db().Value("SELECT COUNT(*) FROM items"));
   // The connection is usable and outside any transaction again.
   ASSERT_TRUE(Exec("INSERT INTO items (id) VALUES (2)", &error)) << error;
   EXPECT_EQ("1", db().Value("SELECT COUNT(*) FROM items"));
}

TEST_F(DriverTest, ConnectionFailureGivesNoHandle)
{
   if (db().engine() == "sqlite")
   {
      snprintf(g_szDbName, sizeof(g_szDbName), "%s", "/nonexistent-dir/sub/korvel.db");
   }
   else
   {
      snprintf(g_szDbPassword, sizeof(g_szDbPassword), "%s", "wrong-password");
   }
   ::testing::internal::CaptureStderr();
   db_handle_t h = DBConnect();
   std::string err = ::testing::internal::GetCapturedStderr();
   EXPECT_EQ(nullptr, h);
   EXPECT_FALSE(err.empty()) << "the engine's reason is printed";
   if (h != nullptr)
      DBDisconnect(h);
}

}  // namespace
