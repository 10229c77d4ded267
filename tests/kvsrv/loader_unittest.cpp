// Finding and loading driver modules: the search order, and DBInit with a
// name, a file name and an absolute path.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lib/kvsrv/internal.h"
#include "tests/support/harness.h"

namespace {

// The installed driver folders of a tool in /p/bin.
std::vector<std::string> Installed(const std::string &file)
{
   std::vector<std::string> paths = {"/p/lib/korvel/" + file};
   if (std::string(KV_MULTIARCH) != "")
      paths.push_back("/p/lib/" KV_MULTIARCH "/korvel/" + file);
   return paths;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string> &b)
{
   a.insert(a.end(), b.begin(), b.end());
   return a;
}

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
      // environment's folder first, then beside the executable, then the
      // installed folders relative to the executable.
      {"pgsql", "/env", "/p/bin", Concat({"/env/pgsql.ddr", "/p/bin/pgsql.ddr"}, Installed("pgsql.ddr"))},
      {"pgsql.ddr", "/env", "/p/bin", Concat({"/env/pgsql.ddr", "/p/bin/pgsql.ddr"}, Installed("pgsql.ddr"))},
      {"odbc.so", "/env", "/p/bin", Concat({"/env/odbc.so", "/p/bin/odbc.so"}, Installed("odbc.so"))},
      // Empty folders are left out.
      {"mysql", "", "/p/bin", Concat({"/p/bin/mysql.ddr"}, Installed("mysql.ddr"))},
      {"mysql", "/env", "", {"/env/mysql.ddr"}},
      {"mysql", nullptr, "", {}},
      // Anything with a path separator is opened as given, and only there.
      {"/usr/lib/korvel/pgsql.ddr", "/env", "/p/bin", {"/usr/lib/korvel/pgsql.ddr"}},
      {"./pgsql", "/env", "/p/bin", {"./pgsql"}},
      {"drivers/sqlite.ddr", "/env", "/p/bin", {"drivers/sqlite.ddr"}},
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
   std::string installed = std::string(KV_BINARY_DIR) + "/lib/korvel/broken.ddr: not found";
   EXPECT_NE(std::string::npos, err.find(installed)) << err;
   // Every folder searched that holds drivers is listed with them.
   EXPECT_NE(std::string::npos, err.find("Drivers found in " + std::string(KV_BINARY_DIR) + "/bin: ")) << err;
   EXPECT_NE(std::string::npos, err.find(" sqlite")) << err;

   EXPECT_FALSE(Load(std::string(KV_BINARY_DIR) + "/nonexistent.ddr", &err));
   EXPECT_NE(std::string::npos, err.find("nonexistent.ddr: not found")) << err;

   // A shared object without the entry point is not taken for a driver.
   Dl_info info;
   ASSERT_NE(0, dladdr(reinterpret_cast<void *>(&puts), &info));
   EXPECT_FALSE(Load(info.dli_fname, &err));
   EXPECT_NE(std::string::npos, err.find("not a driver module")) << err;
}

}  // namespace
