// Test support: runs the built kvdbmgr and gives each test a fresh database on
// the engine under test (KV_TEST_ENGINE: sqlite, pgsql, mysql or odbc).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// What one run of the tool did.
struct ToolRun
{
   int exitCode = -1;
   std::string out;   // standard output
   std::string err;   // standard error
};

// Runs kvdbmgr with |args|, feeding |input| on standard input (then end of
// input). |env| adds or replaces environment variables ("NAME=value").
// KORVELD_CONFIG and NO_COLOR are removed from the child's environment unless given.
ToolRun RunTool(const std::vector<std::string> &args, const std::string &input = "",
                const std::vector<std::string> &env = {});

// Runs kvdbmgr under a pseudo-terminal; |input| is typed once the tool has
// asked its first "(Y/N) " question. The
// output is what the terminal received (stdout and stderr together).
ToolRun RunToolOnTerminal(const std::vector<std::string> &args, const std::string &input,
                          const std::vector<std::string> &env = {});

// Runs kvdbmgr with |args| on pipes and answers as it goes: each time its
// output shows one more "(Y/N) " question, calls |atQuestion| with the
// question's number (from 1) and types what it returns; an empty text ends
// the input. Meant for doing something to the database while the tool waits.
ToolRun RunToolAnswering(const std::vector<std::string> &args, const std::function<std::string(int)> &atQuestion,
                         const std::vector<std::string> &env = {});

// A temporary directory, removed with its contents at destruction.
class TempDir
{
public:
   TempDir();
   ~TempDir();
   const std::string &path() const { return path_; }
   std::string File(const std::string &name) const { return path_ + "/" + name; }
   // Writes |content| to the file |name| in this directory and returns its path.
   std::string Write(const std::string &name, const std::string &content) const;

private:
   std::string path_;
};

using Rows = std::vector<std::vector<std::string>>;

// A fresh, empty database on the engine under test, dropped at destruction,
// with a server configuration file pointing at it.
class TestDatabase
{
public:
   TestDatabase();
   ~TestDatabase();

   // Engine name (sqlite, pgsql, mysql, odbc) and the DBSyntax text of its dialect.
   const std::string &engine() const { return engine_; }
   const std::string &syntax() const { return syntax_; }
   // The configuration file for the tool.
   const std::string &config() const { return config_; }
   const TempDir &dir() const { return dir_; }

   // Runs a statement on a connection of the test's own; false (and the
   // engine's error in |error|) on failure.
   bool Exec(const std::string &statement, std::string *error = nullptr);
   // Runs a select; fails the test when it fails.
   Rows Query(const std::string &query);
   // The first field of the first row, or "<none>" when there is no row.
   std::string Value(const std::string &query);

   // Creates the config table the tool reads, with DBSyntax set to this engine's dialect.
   void CreateConfigTable(bool withSyntax = true);
   // Inserts or replaces one config variable (the value is stored as given).
   void SetConfig(const std::string &name, const std::string &value);
   void DeleteConfig(const std::string &name);
   // The stored value of a config variable, or "<none>" when there is no such row.
   std::string ConfigValue(const std::string &name);

   // The shipped schema file of this engine's dialect (sql/<dialect>.sql).
   std::string SchemaFile() const;
   // Fills the database from the shipped schema with "kvdbmgr init"; fails the
   // test when init does not succeed.
   void InitSchema();
   // Runs a batch file with "kvdbmgr batch"; fails the test when it does not succeed.
   void LoadBatch(const std::string &path);

   // Runs kvdbmgr on this database: "-c <config>" and then |args|.
   ToolRun Run(const std::vector<std::string> &args, const std::string &input = "",
               const std::vector<std::string> &env = {});
   // The same with answers given as the questions come (RunToolAnswering).
   ToolRun RunAnswering(const std::vector<std::string> &args, const std::function<std::string(int)> &atQuestion);

private:
   std::string engine_;
   std::string syntax_;
   std::string name_;      // database name on a server engine
   std::string config_;
   TempDir dir_;
   void *connection_ = nullptr;
};

// True when the engine under test is available; otherwise the calling test
// should skip (see KV_SKIP_UNLESS_ENGINE).
bool EngineAvailable(std::string *why);

#define KV_SKIP_UNLESS_ENGINE()                     \
   do                                              \
   {                                               \
      std::string why_;                            \
      if (!EngineAvailable(&why_))                 \
         GTEST_SKIP() << why_;                     \
   } while (0)

// The exact banner every run starts with.
inline const std::string kBanner = "Korvel Database Manager Version " KV_VERSION "\n\n";

// Base fixture for tests that run against the engine under test.
class EngineTest : public ::testing::Test
{
protected:
   // Skips the test when the engine is not set up; otherwise makes the fresh
   // database and calls SetUpDatabase.
   void SetUp() final;
   void TearDown() override;
   // What a fixture puts into every test's fresh database.
   virtual void SetUpDatabase() {}
   TestDatabase &db() { return *db_; }

private:
   TestDatabase *db_ = nullptr;
};
