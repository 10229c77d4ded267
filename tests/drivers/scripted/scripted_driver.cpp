// A driver module for tests: it records every call it receives and answers
// from a script, so that tests can see the statements the tool sends for
// dialects no engine here speaks (MSSQL, Oracle) and make any call fail.
//
// DBName is the script file. Every call is appended to the log file, which is
// DBServer when given and "<script>.log" otherwise, one line per call:
//
//    execute <statement>      select <query>      begin      commit      rollback
//
// Line breaks, carriage returns and backslashes in a statement are written as
// \n, \r and \\ so that every call is one line. Failed calls are logged too.
//
// The script is read at connect, one rule per line; blank lines and lines
// starting with '#' are ignored. Rules are tried in file order; the first whose
// pattern matches the statement or query decides.
//
//    select <pattern>                 a matching select returns the rows that follow
//    select <pattern> => <row>        the same with a first row inline
//    row <field>|<field>|...          one more row for the select rule above
//    fail <pattern> => <error text>   a matching execute or select fails with the text
//    fail begin|commit|rollback|connect [=> <error text>]
//                                     that call fails ("scripted failure" by default)
//    once <rule>                      the rule (select or fail) applies to its first
//                                     match only and is then used up
//    unmatched empty|fail [=> <error text>]
//                                     what an unmatched select does: return no rows
//                                     (the default) or fail; unmatched executes succeed
//
// An error text may start with a SQLSTATE in brackets ("[08S01] Communication
// link failure"). When that state is one with which an ODBC data source says
// the connection is gone, the connection counts as lost from that call on:
// every later call fails with the same text and the driver reports it lost.
//
// A pattern is a prefix of the statement text, compared exactly; a pattern
// starting with '~' is an ECMAScript regular expression searched anywhere in it.
// In row fields "\|" is a '|', "\\" a backslash, "\n" a line break, and a field
// that is exactly "\N" is an SQL NULL.
#include "lib/kvsrv/kvsrv_driver.h"
#include "drivers/common/sqlstate.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

const char kDefaultError[] = "scripted failure";

struct Field
{
   bool isNull;
   std::string text;
};

struct Rule
{
   enum Kind
   {
      kSelect,
      kFail,
      kFailCall
   } kind = kSelect;
   bool once = false;
   bool used = false;
   std::string pattern;  // statement pattern, or the call name for kFailCall
   bool isRegex = false;
   std::regex regex;
   std::string error;
   std::vector<std::vector<Field>> rows;
};

struct Script
{
   std::vector<Rule> rules;
   bool unmatchedFails = false;
   std::string unmatchedError = kDefaultError;
   std::string logPath;
   bool lost = false;
   std::string lostError;
};

void SetError(char *error, const std::string &text)
{
   snprintf(error, KV_DRIVER_ERROR_SIZE, "%s", text.c_str());
}

// Fails a call with a rule's error text, and marks the connection lost when
// the text carries a SQLSTATE that says so. Returns 0.
int Fail(Script *script, char *error, const std::string &text)
{
   SetError(error, text);
   if (text.size() >= 7 && text[0] == '[' && text[6] == ']' && IsConnectionLostState(text.c_str() + 1))
   {
      script->lost = true;
      script->lostError = text;
   }
   return 0;
}

// Once the connection is lost every call fails with the text that lost it.
bool FailLost(Script *script, char *error)
{
   if (!script->lost)
      return false;
   SetError(error, script->lostError);
   return true;
}

std::vector<Field> ParseRow(const std::string &text)
{
   std::vector<Field> row;
   std::string current;
   bool escapedOnly = false;  // current field is exactly "\N" so far
   for (size_t i = 0; i < text.size(); i++)
   {
      char c = text[i];
      if (c == '\\' && i + 1 < text.size())
      {
         char next = text[++i];
         if (next == 'N' && current.empty())
         {
            escapedOnly = true;
            continue;
         }
         current += (next == 'n') ? '\n' : next;
         escapedOnly = false;
         continue;
      }
      if (c == '|')
      {
         row.push_back({escapedOnly, current});
         current.clear();
         escapedOnly = false;
         continue;
      }
      current += c;
      escapedOnly = false;
   }
   row.push_back({escapedOnly, current});
   return row;
}

// Splits "<head> => <tail>"; returns false when there is no arrow.
bool SplitArrow(const std::string &line, std::string *head, std::string *tail)
{
   size_t arrow = line.find(" => ");
   if (arrow == std::string::npos)
   {
      *head = line;
      tail->clear();
      return false;
   }
   *head = line.substr(0, arrow);
   *tail = line.substr(arrow + 4);
   return true;
}

bool SetPattern(Rule *rule, const std::string &pattern, std::string *problem)
{
   rule->pattern = pattern;
   if (!pattern.empty() && pattern[0] == '~')
   {
      try
      {
         rule->regex = std::regex(pattern.substr(1), std::regex::ECMAScript);
      }
      catch (const std::regex_error &e)
      {
         *problem = "bad regular expression " + pattern + ": " + e.what();
         return false;
      }
      rule->isRegex = true;
   }
   return true;
}

bool StartsWith(const std::string &text, const char *prefix)
{
   return text.compare(0, strlen(prefix), prefix) == 0;
}

bool LoadScript(const std::string &path, Script *script, std::string *problem)
{
   std::ifstream in(path);
   if (!in)
   {
      *problem = "cannot open the script " + path;
      return false;
   }
   std::string line;
   int number = 0;
   Rule *lastSelect = nullptr;
   while (std::getline(in, line))
   {
      number++;
      if (!line.empty() && line.back() == '\r')
         line.pop_back();
      if (line.empty() || line[0] == '#')
         continue;
      std::string where = path + ":" + std::to_string(number) + ": ";
      if (StartsWith(line, "row "))
      {
         if (lastSelect == nullptr)
         {
            *problem = where + "row without a select rule";
            return false;
         }
         lastSelect->rows.push_back(ParseRow(line.substr(4)));
         continue;
      }
      if (StartsWith(line, "unmatched "))
      {
         std::string head, tail;
         bool arrow = SplitArrow(line.substr(10), &head, &tail);
         if (head != "empty" && head != "fail")
         {
            *problem = where + "unmatched takes empty or fail";
            return false;
         }
         script->unmatchedFails = head == "fail";
         if (arrow)
            script->unmatchedError = tail;
         continue;
      }
      lastSelect = nullptr;
      Rule rule;
      if (StartsWith(line, "once "))
      {
         rule.once = true;
         line = line.substr(5);
      }
      std::string head, tail;
      if (StartsWith(line, "select "))
      {
         bool arrow = SplitArrow(line.substr(7), &head, &tail);
         if (!SetPattern(&rule, head, problem))
         {
            *problem = where + *problem;
            return false;
         }
         if (arrow)
            rule.rows.push_back(ParseRow(tail));
         script->rules.push_back(std::move(rule));
         lastSelect = &script->rules.back();
         continue;
      }
      if (StartsWith(line, "fail "))
      {
         bool arrow = SplitArrow(line.substr(5), &head, &tail);
         rule.error = arrow ? tail : kDefaultError;
         if (head == "begin" || head == "commit" || head == "rollback" || head == "connect")
         {
            rule.kind = Rule::kFailCall;
            rule.pattern = head;
         }
         else
         {
            rule.kind = Rule::kFail;
            if (!arrow)
            {
               *problem = where + "fail <pattern> needs \" => <error text>\"";
               return false;
            }
            if (!SetPattern(&rule, head, problem))
            {
               *problem = where + *problem;
               return false;
            }
         }
         script->rules.push_back(std::move(rule));
         continue;
      }
      *problem = where + "unknown rule: " + line;
      return false;
   }
   return true;
}

bool Matches(const Rule &rule, const std::string &text)
{
   if (rule.isRegex)
      return std::regex_search(text, rule.regex);
   return text.compare(0, rule.pattern.size(), rule.pattern) == 0;
}

void Log(Script *script, const char *kind, const char *text)
{
   std::string line = kind;
   if (text != nullptr)
   {
      line += ' ';
      for (const char *p = text; *p != 0; p++)
      {
         if (*p == '\n')
            line += "\\n";
         else if (*p == '\r')
            line += "\\r";
         else if (*p == '\\')
            line += "\\\\";
         else
            line += *p;
      }
   }
   line += '\n';
   FILE *f = fopen(script->logPath.c_str(), "a");
   if (f == nullptr)
      return;
   fwrite(line.data(), 1, line.size(), f);
   fclose(f);
}

// The first live rule of a kind that applies to |text| (or to the call named |text|).
Rule *Find(Script *script, const std::string &text, bool call, bool selects)
{
   for (Rule &rule : script->rules)
   {
      if (rule.used)
         continue;
      bool hit;
      if (call)
         hit = rule.kind == Rule::kFailCall && rule.pattern == text;
      else
         hit = (rule.kind == Rule::kFail || (selects && rule.kind == Rule::kSelect)) && Matches(rule, text);
      if (!hit)
         continue;
      if (rule.once)
         rule.used = true;
      return &rule;
   }
   return nullptr;
}

void *Connect(const KvDriverConnectParams *params, char *error)
{
   Script *script = new Script();
   std::string problem;
   if (!LoadScript(params->database, script, &problem))
   {
      SetError(error, problem);
      delete script;
      return nullptr;
   }
   script->logPath = (params->server != nullptr && *params->server != 0) ? std::string(params->server)
                                                                         : std::string(params->database) + ".log";
   if (Rule *rule = Find(script, "connect", true, false))
   {
      SetError(error, rule->error);
      delete script;
      return nullptr;
   }
   return script;
}

void Disconnect(void *connection)
{
   delete static_cast<Script *>(connection);
}

int Execute(void *connection, const char *statement, char *error)
{
   Script *script = static_cast<Script *>(connection);
   Log(script, "execute", statement);
   if (FailLost(script, error))
      return 0;
   if (Rule *rule = Find(script, statement, false, false))
      return Fail(script, error, rule->error);
   return 1;
}

int Select(void *connection, const char *query, KvRowSink sink, void *sinkContext, char *error)
{
   Script *script = static_cast<Script *>(connection);
   Log(script, "select", query);
   if (FailLost(script, error))
      return 0;
   Rule *rule = Find(script, query, false, true);
   if (rule == nullptr)
   {
      if (!script->unmatchedFails)
         return 1;
      SetError(error, script->unmatchedError);
      return 0;
   }
   if (rule->kind == Rule::kFail)
      return Fail(script, error, rule->error);
   for (const std::vector<Field> &row : rule->rows)
   {
      std::vector<const char *> values;
      std::vector<size_t> lengths;
      for (const Field &f : row)
      {
         values.push_back(f.isNull ? nullptr : f.text.c_str());
         lengths.push_back(f.isNull ? 0 : f.text.size());
      }
      if (!sink(sinkContext, (int)row.size(), values.data(), lengths.data()))
      {
         SetError(error, "rows of different lengths in the script, or out of memory");
         return 0;
      }
   }
   return 1;
}

int Call(void *connection, const char *name, char *error)
{
   Script *script = static_cast<Script *>(connection);
   Log(script, name, nullptr);
   if (FailLost(script, error))
      return 0;
   if (Rule *rule = Find(script, name, true, false))
      return Fail(script, error, rule->error);
   return 1;
}

int Begin(void *connection, char *error)
{
   return Call(connection, "begin", error);
}

int Commit(void *connection, char *error)
{
   return Call(connection, "commit", error);
}

int Rollback(void *connection, char *error)
{
   return Call(connection, "rollback", error);
}

int ConnectionLost(void *connection)
{
   return static_cast<Script *>(connection)->lost ? 1 : 0;
}

const KvDriverApi kApi = {KV_DRIVER_ABI_VERSION, "scripted", Connect, Disconnect, Execute, Select, Begin, Commit, Rollback,
                          ConnectionLost};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KvDriverApi *KvDriverEntry(void)
{
   return &kApi;
}
