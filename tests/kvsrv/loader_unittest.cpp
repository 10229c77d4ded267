// Finding and loading driver modules: the search order, and DBInit with a
// name, a file name and an absolute path.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lib/kvsrv/kvsrv.h"
#include "tests/support/harness.h"

namespace {

const std::string kInstall = KV_DRIVER_INSTALL_DIR;

TEST(DriverSearchPathsTest, Order)
{
   struct
   {
      const char *name;
      const char *envDir;
      const char *exeDir;
      std::vector<std::string> paths;
   } cases[] = {
      // A name is a file name without extension: ".ddr" is added; the
      // environment's folder first, then beside the executable, then installed.
      {"pgsql", "/env", "/exe", {"/env/pgsql.ddr", "/exe/pgsql.ddr", kInstall + "/pgsql.ddr"}},
      {"pgsql.ddr", "/env", "/exe", {"/env/pgsql.ddr", "/exe/pgsql.ddr", kInstall + "/pgsql.ddr"}},
      {"odbc.so", "/env", "/exe", {"/env/odbc.so", "/exe/odbc.so", kInstall + "/odbc.so"}},
      // Empty folders are left out.
      {"mysql", "", "/exe", {"/exe/mysql.ddr", kInstall + "/mysql.ddr"}},
      {"mysql", nullptr, "", {kInstall + "/mysql.ddr"}},
      // Anything with a path separator is opened as given, and only there.
      {"/usr/lib/korvel/pgsql.ddr", "/env", "/exe", {"/usr/lib/korvel/pgsql.ddr"}},
      {"./pgsql", "/env", "/exe", {"./pgsql"}},
      {"drivers/sqlite.ddr", "/env", "/exe", {"drivers/sqlite.ddr"}},
   };
   for (const auto &c : cases)
      EXPECT_EQ(c.paths, KvDriverSearchPaths(c.name, c.envDir, c.exeDir))
         << c.name << " env=" << (c.envDir ? c.envDir : "(null)") << " exe=" << c.exeDir;
}

// Loads |name| with DBInit in this process; returns its stderr in |err|.
bool Load(const std::string &name, std::string *err = nullptr)
{
   DBUnloadDriver();
   snprintf(g_szDbDriver, sizeof(g_szDbDriver), "%s", name.c_str());
   ::testing::internal::CaptureStderr();
   bool ok = DBInit(0, 0, 0, nullptr);
   std::string text = ::testing::internal::GetCapturedStderr();
   if (err != nullptr)
      *err = text;
   return ok;
}

// The sqlite module beside the test binary: proof that a load worked is a
// query that only a real driver answers.
bool AnswersSqlite(const TempDir &dir)
{
   snprintf(g_szDbName, sizeof(g_szDbName), "%s", dir.File("loaded.db").c_str());
   db_handle_t h = DBConnect();
   if (h == nullptr)
      return false;
   DB_RESULT r = DBSelect(h, "SELECT sqlite_version() IS NOT NULL");
   bool ok = r != nullptr && std::string(DBGetFieldText(r, 0, 0)) == "1";
   DBFreeResult(r);
   DBDisconnect(h);
   return ok;
}

class DriverLoadTest : public ::testing::Test
{
protected:
   void TearDown() override
   {
      DBUnloadDriver();
      unsetenv("KORVEL_DRIVER_DIR");
   }
   TempDir dir_;
};

TEST_F(DriverLoadTest, ByNameFileNameAndAbsolutePath)
{
   char exe[4096];
   ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
   ASSERT_GT(n, 0);
   exe[n] = 0;
   std::string binDir = std::string(exe).substr(0, std::string(exe).rfind('/'));
   for (const std::string &name : {std::string("sqlite"), std::string("sqlite.ddr"), binDir + "/sqlite.ddr"})
   {
      std::string err;
      EXPECT_TRUE(Load(name, &err)) << name << ": " << err;
      EXPECT_TRUE(AnswersSqlite(dir_)) << name;
   }
}

TEST_F(DriverLoadTest, EnvironmentFolderComesFirst)
{
   // A module named like the sqlite one, but another driver: whichever answers
   // shows which folder won.
   std::string scripted = std::string(KV_BINARY_DIR) + "/bin/scripted.ddr";
   ASSERT_EQ(0, symlink(scripted.c_str(), dir_.File("sqlite.ddr").c_str()));
   setenv("KORVEL_DRIVER_DIR", dir_.path().c_str(), 1);
   ASSERT_TRUE(Load("sqlite"));
   dir_.Write("loaded.db", "select SELECT sqlite_version() => scripted\n");
   snprintf(g_szDbName, sizeof(g_szDbName), "%s", dir_.File("loaded.db").c_str());
   db_handle_t h = DBConnect();
   ASSERT_NE(nullptr, h);
   DB_RESULT r = DBSelect(h, "SELECT sqlite_version() IS NOT NULL");
   ASSERT_NE(nullptr, r);
   EXPECT_STREQ("scripted", DBGetFieldText(r, 0, 0));
   DBFreeResult(r);
   DBDisconnect(h);
   unlink(dir_.File("loaded.db.log").c_str());

   // A folder without the module is passed over.
   setenv("KORVEL_DRIVER_DIR", "/nonexistent-driver-dir", 1);
   ASSERT_TRUE(Load("sqlite"));
   EXPECT_TRUE(AnswersSqlite(dir_));
}

TEST_F(DriverLoadTest, FailureNamesEveryPathTried)
{
   setenv("KORVEL_DRIVER_DIR", dir_.path().c_str(), 1);
   dir_.Write("broken.ddr", "not a shared object");
   std::string err;
   EXPECT_FALSE(Load("broken", &err));
   EXPECT_NE(std::string::npos, err.find("Cannot load database driver \"broken\"")) << err;
   EXPECT_NE(std::string::npos, err.find(dir_.File("broken.ddr") + ": ")) << err;
   EXPECT_NE(std::string::npos, err.find(kInstall + "/broken.ddr: not found")) << err;

   EXPECT_FALSE(Load(std::string(KV_BINARY_DIR) + "/nonexistent.ddr", &err));
   EXPECT_NE(std::string::npos, err.find("nonexistent.ddr: not found")) << err;

   // A shared object without the entry point is not taken for a driver.
   Dl_info info;
   ASSERT_NE(0, dladdr(reinterpret_cast<void *>(&puts), &info));
   EXPECT_FALSE(Load(info.dli_fname, &err));
   EXPECT_NE(std::string::npos, err.find("not a driver module")) << err;
}

}  // namespace
