// Runs the tool against the scripted driver module (tests/drivers/scripted):
// writes its script and configuration file, and reads back every call the
// tool made, for dialects no engine here speaks and for injected failures.
#pragma once

#include <string>
#include <vector>

#include "tests/support/harness.h"

// The select the tool makes to learn the dialect.
extern const char kSyntaxQuery[];
// The select that reads the format version, and a script rule answering it
// with |version| (one line).
extern const char kVersionQuery[];
std::string VersionRule(int version);

// A scripted "database" in a temporary directory. The script rules are the
// scripted driver's (see scripted_driver.cpp); a rule answering kSyntaxQuery
// with |syntax| is added after them, so a test's own rules come first.
class ScriptedDatabase
{
public:
   // |syntax| is the DBSyntax the tool reads ("ORACLE", "MSSQL", ...; empty for
   // no such rule); |script| holds rule lines.
   explicit ScriptedDatabase(const std::string &syntax, const std::string &script = "");

   // Replaces the script's rules (the syntax rule is kept).
   void SetScript(const std::string &script);

   // Runs kvdbmgr with "-c <config>" and |args|, after emptying the call log.
   ToolRun Run(const std::vector<std::string> &args, const std::string &input = "",
               const std::vector<std::string> &env = {});

   // Every call of the last run, one per entry as logged: "execute <statement>",
   // "select <query>", "begin", "commit", "rollback".
   std::vector<std::string> Calls() const;
   // Only the statements of the last run's executes, without the marker.
   std::vector<std::string> Statements() const;

   const std::string &config() const { return config_; }
   const std::string &scriptPath() const { return script_; }
   const std::string &logPath() const { return log_; }
   const TempDir &dir() const { return dir_; }

private:
   TempDir dir_;
   std::string syntax_;
   std::string script_;
   std::string log_;
   std::string config_;
};

// The dialects no engine here speaks, and what the tool's statements differ
// in there.
struct OtherDialect
{
   const char *syntax;
   const char *text;           // the long-text type
   bool indexNamesPerSchema;   // else per table
};
inline const OtherDialect kOtherDialects[] = {{"MSSQL", "text", false}, {"ORACLE", "clob", true}};

// The calls logged in the file |path|, one per entry.
std::vector<std::string> ReadCallLog(const std::string &path);

// The statements of the executes among |calls|, without the marker.
std::vector<std::string> Executed(const std::vector<std::string> &calls);

// True when |calls| holds |call|.
bool Contains(const std::vector<std::string> &calls, const std::string &call);

// The calls of one upgrade step, between its "begin" and its "commit" or
// "rollback" (both left out): the step after the one whose version statement
// stored |from|, or the first step of the run when none did. The started-step
// mark that MySQL keeps around every step is left out: it is the upgrade
// engine's bookkeeping, tested on its own.
std::vector<std::string> StepCalls(const std::vector<std::string> &calls, int from = 0);
