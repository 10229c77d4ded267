// Tests that call the tool's own access layer in this process, on the engine
// under test: the process-wide connection and dialect are set up as the front
// end sets them, and put back afterwards.
#pragma once

#include <stdio.h>

#include <string>

#include "db/dialects.h"
#include "db/settings.h"
#include "lib/kvsrv/kvsrv.h"
#include "tests/support/harness.h"

// A fresh database with a config table; g_hConnection is connected to it and
// g_nSyntax holds its dialect. What the access layer prints can be captured.
class AccessLayerTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
      g_hConnection = DBConnect();   // the test database's settings are the current ones
      ASSERT_NE(nullptr, g_hConnection);
      g_nSyntax = FindDialect(db().syntax().c_str());
      ASSERT_GE(g_nSyntax, 0);
   }
   void TearDown() override
   {
      if (g_hConnection != nullptr)
         DBDisconnect(g_hConnection);
      g_hConnection = nullptr;
      g_bSkipErrors = g_bShowQueries = false;
      g_pszTableType = "";
      g_nSyntax = DB_SYNTAX_MYSQL;
      EngineTest::TearDown();
   }
   // Standard output from Capture() on, up to Captured().
   void Capture() { testing::internal::CaptureStdout(); }
   std::string Captured()
   {
      fflush(stdout);
      return testing::internal::GetCapturedStdout();
   }
   // The stored value of a configuration variable, or "<none>".
   std::string Config(const std::string &name) { return db().ConfigValue(name); }
   bool IsMySql() { return g_nSyntax == DB_SYNTAX_MYSQL; }
};
