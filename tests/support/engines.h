// The engines the tests run on: how to reach each, and how to make and drop a
// fresh database on it.
#pragma once

#include <string>

class TempDir;

// Connection keywords for one test database.
struct ConnectionSettings
{
   std::string server, database, login, password, params;
   // "Keyword = Value" lines for the tool's configuration file.
   std::string ConfigLines() const;
   // Puts them into the driver library's connection parameters of this process.
   void Apply() const;
};

struct EngineOps
{
   const char *name;     // value of KV_TEST_ENGINE
   const char *driver;   // DBDriver
   const char *syntax;   // DBSyntax of its dialect
   const char *dialect;  // the engine whose SQL it speaks: names per-dialect fixture files
   // True when the engine can be used here; otherwise |why| says what is missing.
   bool (*available)(std::string *why);
   ConnectionSettings (*createDatabase)(const std::string &name, const TempDir &dir);
   void (*dropDatabase)(const std::string &name, const TempDir &dir);
};

// The engine named by KV_TEST_ENGINE (sqlite when unset).
const EngineOps &CurrentEngine();
