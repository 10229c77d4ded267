// Running the tool against the scripted driver module.
#include "tests/support/scripted.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

const char kSyntaxQuery[] = "SELECT var_value FROM config WHERE var_name='DBSyntax'";
const char kVersionQuery[] = "SELECT var_value FROM config WHERE var_name='DBFormatVersion'";

std::string VersionRule(int version)
{
   return std::string("select ") + kVersionQuery + " => " + std::to_string(version) + "\n";
}

ScriptedDatabase::ScriptedDatabase(const std::string &syntax, const std::string &script) : syntax_(syntax)
{
   script_ = dir_.File("script.txt");
   log_ = dir_.File("calls.log");
   config_ = dir_.Write("korveld.conf", "DBDriver = scripted\nDBName = \"" + script_ + "\"\nDBServer = \"" + log_ +
                                           "\"\n");
   SetScript(script);
}

void ScriptedDatabase::SetScript(const std::string &script)
{
   std::string text = script;
   if (!text.empty() && text.back() != '\n')
      text += '\n';
   if (!syntax_.empty())
      text += std::string("select ") + kSyntaxQuery + " => " + syntax_ + "\n";
   dir_.Write("script.txt", text);
}

ToolRun ScriptedDatabase::Run(const std::vector<std::string> &args, const std::string &input,
                              const std::vector<std::string> &env)
{
   unlink(log_.c_str());
   std::vector<std::string> all = {"-c", config_};
   all.insert(all.end(), args.begin(), args.end());
   return RunTool(all, input, env);
}

std::vector<std::string> ScriptedDatabase::Calls() const
{
   return ReadCallLog(log_);
}

std::vector<std::string> ScriptedDatabase::Statements() const
{
   return Executed(Calls());
}

std::vector<std::string> ReadCallLog(const std::string &path)
{
   std::vector<std::string> calls;
   std::ifstream in(path);
   std::string line;
   while (std::getline(in, line))
      calls.push_back(line);
   return calls;
}

std::vector<std::string> Executed(const std::vector<std::string> &calls)
{
   std::vector<std::string> statements;
   for (const std::string &call : calls)
      if (call.compare(0, 8, "execute ") == 0)
         statements.push_back(call.substr(8));
   return statements;
}

bool Contains(const std::vector<std::string> &calls, const std::string &call)
{
   return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::vector<std::string> StepCalls(const std::vector<std::string> &calls, int from)
{
   const std::string stored = "execute UPDATE config SET var_value='" + std::to_string(from) +
                              "' WHERE var_name='DBFormatVersion'";
   auto previous = std::find(calls.begin(), calls.end(), stored);
   auto begin = std::find(previous == calls.end() ? calls.begin() : previous, calls.end(), "begin");
   if (begin == calls.end())
      return {};
   std::vector<std::string> step;
   for (auto it = begin + 1; it != calls.end() && *it != "commit" && *it != "rollback"; ++it)
      if (it->find("'DBUpgradeStepStarted'") == std::string::npos)
         step.push_back(*it);
   return step;
}
