// Running the tool against the scripted driver module.
#include "tests/support/scripted.h"

#include <unistd.h>

#include <fstream>

const char kSyntaxQuery[] = "SELECT var_value FROM config WHERE var_name='DBSyntax'";

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
   std::vector<std::string> calls;
   std::ifstream in(log_);
   std::string line;
   while (std::getline(in, line))
      calls.push_back(line);
   return calls;
}

std::vector<std::string> ScriptedDatabase::Statements() const
{
   std::vector<std::string> statements;
   for (const std::string &call : Calls())
      if (call.compare(0, 8, "execute ") == 0)
         statements.push_back(call.substr(8));
   return statements;
}
