// Finding and loading driver modules.
#include "lib/kvsrv/internal.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef KV_DRIVER_INSTALL_DIR
#define KV_DRIVER_INSTALL_DIR "/usr/local/lib/korvel"
#endif

namespace {

void *s_module = nullptr;
const KvDriverApi *s_driver = nullptr;

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
   if (envDir != nullptr && *envDir != 0)
      paths.push_back(std::string(envDir) + "/" + file);
   if (!exeDir.empty())
      paths.push_back(exeDir + "/" + file);
   paths.push_back(std::string(KV_DRIVER_INSTALL_DIR) + "/" + file);
   return paths;
}

const KvDriverApi *KvLoadedDriver()
{
   return s_driver;
}

bool DBInit(int, int, int, void (*)(uint32_t, const char *))
{
   if (s_driver != nullptr)
      return true;
   if (g_szDbDriver[0] == 0)
   {
      fprintf(stderr, "No database driver given (DBDriver)\n");
      return false;
   }
   std::vector<std::string> paths = KvDriverSearchPaths(g_szDbDriver, getenv("KORVEL_DRIVER_DIR"), ExecutableDir());
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
      s_module = module;
      s_driver = api;
      return true;
   }
   fprintf(stderr, "Cannot load database driver \"%s\"; tried:\n%s", g_szDbDriver, report.c_str());
   return false;
}

void DBUnloadDriver()
{
   if (s_module != nullptr)
      dlclose(s_module);
   s_module = nullptr;
   s_driver = nullptr;
}
