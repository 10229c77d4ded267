// Finding and loading driver modules.
#include "lib/kvsrv/internal.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#ifndef KV_MULTIARCH
#define KV_MULTIARCH ""
#endif

namespace {

void *loadedModule = nullptr;
const KvDriverApi *loadedDriver = nullptr;

std::string ExecutableDir()
{
   char path[PATH_MAX];
   ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
   if (n <= 0)
      return std::string();
   path[n] = 0;
   char *slash = strrchr(path, '/');
   if (slash == nullptr)
      return std::string();
   *slash = 0;
   return path;
}

// The folders the driver search looks in, in order (see KvDriverSearchPaths).
std::vector<std::string> SearchFolders(const char *envDir, const std::string &exeDir)
{
   std::vector<std::string> folders;
   if (envDir != nullptr && *envDir != 0)
      folders.push_back(envDir);
   if (!exeDir.empty())
   {
      folders.push_back(exeDir);
      // The installed tree: <prefix>/bin/kvdbmgr with its drivers under
      // <prefix>/lib, so that the tree still works after it is moved.
      std::string prefix = exeDir.substr(0, exeDir.rfind('/'));
      folders.push_back(prefix + "/lib/korvel");
      if (KV_MULTIARCH[0] != 0)
         folders.push_back(prefix + "/lib/" KV_MULTIARCH "/korvel");
   }
   return folders;
}

// One line naming the driver modules found in |folders|, so that a wrong
// DBDriver can be put right without searching the disk.
std::string DriversFound(const std::vector<std::string> &folders)
{
   std::string text;
   for (const std::string &folder : folders)
   {
      DIR *dir = opendir(folder.c_str());
      if (dir == nullptr)
         continue;
      std::vector<std::string> names;
      while (const dirent *entry = readdir(dir))
      {
         std::string file = entry->d_name;
         if (file.size() > 4 && file.compare(file.size() - 4, 4, ".ddr") == 0)
            names.push_back(file.substr(0, file.size() - 4));
      }
      closedir(dir);
      if (names.empty())
         continue;
      std::sort(names.begin(), names.end());
      text += "Drivers found in " + folder + ":";
      for (const std::string &name : names)
         text += " " + name;
      text += "\n";
   }
   return text.empty() ? "No driver modules (*.ddr) found in any of these folders\n" : text;
}

}  // namespace

std::vector<std::string> KvDriverSearchPaths(const std::string &name, const char *envDir, const std::string &exeDir)
{
   std::vector<std::string> paths;
   if (name.find('/') != std::string::npos)
   {
      paths.push_back(name);
      return paths;
   }
   std::string file = name;
   if (file.find('.') == std::string::npos)
      file += ".ddr";
   for (const std::string &folder : SearchFolders(envDir, exeDir))
      paths.push_back(folder + "/" + file);
   return paths;
}

const KvDriverApi *KvLoadedDriver()
{
   return loadedDriver;
}

bool DBInit(int, int, int, void (*)(uint32_t, const char *))
{
   if (loadedDriver != nullptr)
      return true;
   if (g_szDbDriver[0] == 0)
   {
      fprintf(stderr, "No database driver given (DBDriver)\n");
      return false;
   }
   const char *envDir = getenv("KORVEL_DRIVER_DIR");
   std::string exeDir = ExecutableDir();
   std::vector<std::string> paths = KvDriverSearchPaths(g_szDbDriver, envDir, exeDir);
   std::string report;
   for (const std::string &path : paths)
   {
      if (access(path.c_str(), F_OK) != 0)
      {
         report += "   " + path + ": not found\n";
         continue;
      }
      void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (module == nullptr)
      {
         const char *e = dlerror();
         report += "   " + path + ": " + (e != nullptr ? e : "cannot load") + "\n";
         continue;
      }
      KvDriverEntryFunction entry = (KvDriverEntryFunction)dlsym(module, KV_DRIVER_ENTRY_NAME);
      const KvDriverApi *api = (entry != nullptr) ? entry() : nullptr;
      if (api == nullptr)
      {
         report += "   " + path + ": not a driver module (no " KV_DRIVER_ENTRY_NAME ")\n";
         dlclose(module);
         continue;
      }
      if (api->abiVersion != KV_DRIVER_ABI_VERSION)
      {
         report += "   " + path + ": driver interface version " + std::to_string(api->abiVersion) + ", expected " +
                   std::to_string(KV_DRIVER_ABI_VERSION) + "\n";
         dlclose(module);
         continue;
      }
      loadedModule = module;
      loadedDriver = api;
      return true;
   }
   fprintf(stderr, "Cannot load database driver \"%s\"; tried:\n%s%s", g_szDbDriver, report.c_str(),
           DriversFound(SearchFolders(envDir, exeDir)).c_str());
   return false;
}

const char *DBDriverName()
{
   return loadedDriver != nullptr && loadedDriver->name != nullptr ? loadedDriver->name : "";
}

void DBUnloadDriver()
{
   if (loadedModule != nullptr)
      dlclose(loadedModule);
   loadedModule = nullptr;
   loadedDriver = nullptr;
}
