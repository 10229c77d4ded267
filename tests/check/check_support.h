// What the check tests share: a database holding the tables the checker reads,
// helpers that plant objects in it, and the expected text of the stage lines.
#pragma once

#include <stdio.h>

#include <map>
#include <string>

#include "tests/support/harness.h"

namespace checktest {

// The stage labels, in the order the stages run.
const char *const kStageLabels[6] = {
   "Checking node objects...",          "Checking interface objects...",  "Checking network service objects...",
   "Checking cluster objects...",       "Checking object properties...",  "Checking event processing policy...",
};

enum Stage
{
   NODES = 0,
   INTERFACES = 1,
   SERVICES = 2,
   CLUSTERS = 3,
   TIMESTAMPS = 4,
   POLICY = 5
};

// "*", a blank and the label padded to 68 characters: the stage line before its result.
inline std::string StageLine(int stage)
{
   char line[128];
   snprintf(line, sizeof(line), "* %-68s", kStageLabels[stage]);
   return line;
}

// What a stage prints after its stage line (questions with their answers,
// repair and failure output), and its result. A stage with problems prints its
// stage line again before a "FIXED " or "ERROR " result; a "PASSED" one does not.
struct StageText
{
   std::string body;
   std::string result;   // "PASSED", "FIXED " or "ERROR "
};

// The whole output of the six stages: a stage missing from |problems| passed.
inline std::string StagesOutput(const std::map<int, StageText> &problems = {})
{
   std::string out;
   for (int stage = 0; stage < 6; stage++)
   {
      auto it = problems.find(stage);
      if (it == problems.end())
         out += StageLine(stage) + "[PASSED]\n";
      else if (it->second.result == "PASSED")
         out += StageLine(stage) + it->second.body + "[PASSED]\n";
      else
         out += StageLine(stage) + it->second.body + StageLine(stage) + "[" + it->second.result + "]\n";
   }
   return out;
}

const char kHead[] = "Checking database:\n";
const char kClean[] = "Database doesn't contain any errors\nDatabase check completed\n";

// The summary after problems were found: counts, verdict, and the commit
// question when something was repaired (|commit| is the answer).
inline std::string Summary(int found, int fixed, bool commit)
{
   std::string out = std::to_string(found) + " errors was found, " + std::to_string(fixed) + " errors was corrected\n";
   out += found == fixed ? "All errors in database was fixed\n" : "Database still contain errors\n";
   if (fixed > 0)
   {
      out += "Commit changes (Y/N) ";
      out += commit ? "Y\nCommitting changes...\nChanges was successfully committed to database\n"
                    : "N\nRolling back changes...\nAll changes made to database was cancelled\n";
   }
   return out + "Database check completed\n";
}

// Creates the tables the checker reads and sets the config rows a format-83
// database has (version 83, its dialect, unlocked).
inline void CreateCheckSchema(TestDatabase &db)
{
   db.CreateConfigTable();
   db.SetConfig("DBFormatVersion", "83");
   db.SetConfig("DBLockStatus", "UNLOCKED");
   db.SetConfig("DBLockInfo", "");
   const char *const tables[] = {
      "CREATE TABLE nodes (id integer not null, primary_ip varchar(15) not null, PRIMARY KEY(id))",
      "CREATE TABLE interfaces (id integer not null, node_id integer not null, PRIMARY KEY(id))",
      "CREATE TABLE network_services (id integer not null, node_id integer not null, PRIMARY KEY(id))",
      "CREATE TABLE object_properties (object_id integer not null, name varchar(63) not null, status integer not null,"
      " is_deleted integer not null, image_id integer not null, inherit_access_rights integer not null,"
      " last_modified integer not null, status_calc_alg integer not null, status_prop_alg integer not null,"
      " status_fixed_val integer not null, status_shift integer not null, status_translation integer not null,"
      " status_single_threshold integer not null, status_thresholds varchar(8) not null, PRIMARY KEY(object_id))",
      "CREATE TABLE nsmap (subnet_id integer not null, node_id integer not null, PRIMARY KEY(subnet_id,node_id))",
      "CREATE TABLE acl (object_id integer not null, user_id integer not null, access_rights integer not null,"
      " PRIMARY KEY(object_id,user_id))",
      "CREATE TABLE cluster_members (cluster_id integer not null, node_id integer not null,"
      " PRIMARY KEY(cluster_id,node_id))",
      "CREATE TABLE event_cfg (event_code integer not null, event_name varchar(63) not null, PRIMARY KEY(event_code))",
      "CREATE TABLE event_groups (id integer not null, name varchar(63) not null, PRIMARY KEY(id))",
      "CREATE TABLE actions (action_id integer not null, action_name varchar(63) not null, PRIMARY KEY(action_id))",
      "CREATE TABLE policy_source_list (rule_id integer not null, object_id integer not null,"
      " PRIMARY KEY(rule_id,object_id))",
      "CREATE TABLE policy_event_list (rule_id integer not null, event_code integer not null,"
      " PRIMARY KEY(rule_id,event_code))",
      "CREATE TABLE policy_action_list (rule_id integer not null, action_id integer not null,"
      " PRIMARY KEY(rule_id,action_id))",
   };
   for (const char *statement : tables)
   {
      std::string error;
      ASSERT_TRUE(db.Exec(statement, &error)) << statement << ": " << error;
   }
}

// Runs a statement that plants test data; fails the test when it fails.
inline void Plant(TestDatabase &db, const std::string &statement)
{
   std::string error;
   ASSERT_TRUE(db.Exec(statement, &error)) << statement << ": " << error;
}

// A properties row as the server writes it (last_modified valid unless given).
inline void AddProperties(TestDatabase &db, int id, const std::string &name, int deleted = 0,
                          long lastModified = 1700000000)
{
   Plant(db, "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
             "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
             "status_single_threshold,status_thresholds) VALUES (" +
                std::to_string(id) + ",'" + name + "',0," + std::to_string(deleted) + ",0,1," +
                std::to_string(lastModified) + ",0,0,0,0,0,0,'00000000')");
}

// A node row; |subnet| > 0 also puts it into that subnet.
inline void AddNode(TestDatabase &db, int id, const std::string &ip, int subnet = 0)
{
   Plant(db, "INSERT INTO nodes (id,primary_ip) VALUES (" + std::to_string(id) + ",'" + ip + "')");
   if (subnet > 0)
      Plant(db, "INSERT INTO nsmap (subnet_id,node_id) VALUES (" + std::to_string(subnet) + "," + std::to_string(id) +
                   ")");
}

// A healthy node: properties, an address and a subnet.
inline void AddHealthyNode(TestDatabase &db, int id, const std::string &name)
{
   AddNode(db, id, "10.0.0." + std::to_string(id % 250 + 1), 1);
   AddProperties(db, id, name);
}

// Base fixture: a format-83 database with the checker's tables, empty.
class CheckTest : public EngineTest
{
protected:
   void SetUp() override
   {
      EngineTest::SetUp();
      if (IsSkipped())
         return;
      CreateCheckSchema(db());
   }
   // "kvdbmgr -c <config> [flags] check" with |input| as the keys.
   ToolRun Check(const std::string &input = "", const std::vector<std::string> &flags = {})
   {
      std::vector<std::string> args = flags;
      args.push_back("check");
      return db().Run(args, input);
   }
   std::string Count(const std::string &table, const std::string &where = "")
   {
      return db().Value("SELECT COUNT(*) FROM " + table + (where.empty() ? "" : " WHERE " + where));
   }
};

}  // namespace checktest

namespace checktest {

// Replaces the engine's own error text in every "SQL query failed (...)" line
// with "ERR", so that outputs compare the same on every engine.
inline std::string MaskErrors(std::string out)
{
   const std::string open = "SQL query failed (";
   for (size_t at = out.find(open); at != std::string::npos; at = out.find(open, at + 1))
   {
      size_t start = at + open.size();
      size_t end = out.find("):\n", start);
      if (end == std::string::npos)
         break;
      out.replace(start, end - start, "ERR");
   }
   return out;
}

}  // namespace checktest
