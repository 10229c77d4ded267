// The schema templates and their generated files: the template rules, the
// checked-in files being what the templates give, and every file being a
// well-formed batch file for its dialect (also for MSSQL and Oracle, which no
// engine here can load).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sql/schema_template.h"

namespace {

std::string ReadSource(const std::string &relative)
{
   std::ifstream in(std::string(KV_SOURCE_DIR) + "/" + relative, std::ios::binary);
   std::ostringstream text;
   text << in.rdbuf();
   return text.str();
}

// Splits a batch file the way `batch` and `init` do: at ';' outside single
// quotes. Fails the test when a ';' is not followed by a line break, when a
// quote is left open, or when text follows the last ';'.
std::vector<std::string> SplitStatements(const std::string &file, const std::string &name)
{
   std::vector<std::string> statements;
   bool quoted = false;
   size_t start = 0;
   for (size_t i = 0; i < file.size(); i++)
   {
      if (file[i] == '\'')
         quoted = !quoted;
      else if (file[i] == ';' && !quoted)
      {
         statements.push_back(file.substr(start, i - start));
         EXPECT_TRUE(i + 1 < file.size() && file[i + 1] == '\n')
            << name << ": ';' not followed by a line break after: " << statements.back();
         start = i + 2;
      }
   }
   EXPECT_FALSE(quoted) << name << ": a quote is left open";
   EXPECT_GE(start, file.size()) << name << ": text after the last ';': " << file.substr(start);
   return statements;
}

std::set<std::string> Matches(const std::string &text, const std::regex &pattern)
{
   std::set<std::string> found;
   for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
      found.insert((*it)[1]);
   return found;
}

TEST(SchemaTemplate, Rules)
{
   const SchemaDialect &mysql = *FindSchemaDialect("mysql");
   const SchemaDialect &oracle = *FindSchemaDialect("oracle");
   struct Case
   {
      const char *what;
      const SchemaDialect &dialect;
      std::string input;
      std::string output;   // expected output, or the start of the error text
      bool ok;
   } cases[] = {
      {"comments and blank lines dropped", mysql, "-- a comment\n\n  -- indented\nSELECT 1;\n", "SELECT 1;\n", true},
      {"macros", mysql, "a $SQL:TEXT,b $SQL:INT64,c $SQL:BIGINT,d $SQL:LONGTEXT,'$SQL:SYNTAX';\n",
       "a text,b bigint,c bigint,d text not null,'MYSQL';\n", true},
      {"macros on Oracle", oracle, "a $SQL:TEXT,b $SQL:INT64,c $SQL:BIGINT,d $SQL:LONGTEXT,'$SQL:SYNTAX';\n",
       "a clob,b number(20),c number(20),d clob,'ORACLE';\n", true},
      {"guard admits", mysql, "[mysql,pgsql] X;\n[oracle] Y;\n", "X;\n", true},
      {"negated guard", oracle, "[!oracle] X;\n[!mysql] Y;\n", "Y;\n", true},
      {"multi-line statement and trailing blanks", mysql, "CREATE TABLE t (  \n  a integer);\t\n",
       "CREATE TABLE t (\n  a integer);\n", true},
      {"unknown dialect in a guard", mysql, "X;\n[mysq] Y;\n", "line 2: bad dialect guard", false},
      {"guard without a blank", mysql, "[mysql]Y;\n", "line 1: bad dialect guard", false},
      {"unknown macro", mysql, "a $SQL:TXT;\n", "line 1: unknown macro", false},
      {"unterminated last statement", mysql, "SELECT 1;\nSELECT 2\n", "the last statement", false},
   };
   for (const Case &c : cases)
   {
      std::string out, error;
      bool ok = ExpandSchemaTemplate(c.input, c.dialect, &out, &error);
      EXPECT_EQ(c.ok, ok) << c.what;
      if (c.ok)
         EXPECT_EQ(c.output, out) << c.what;
      else
         EXPECT_EQ(0u, error.find(c.output)) << c.what << ": " << error;
   }
}

// The checked-in files are exactly what the templates give; after editing a
// template run `make schema` in the build tree.
TEST(SchemaFiles, MatchTheirTemplates)
{
   for (const SchemaTemplateFile &file : SchemaTemplateFiles())
   {
      std::string source = ReadSource(file.source);
      ASSERT_FALSE(source.empty()) << file.source;
      for (const std::string &dialect : file.dialects)
      {
         std::string expanded, error;
         ASSERT_TRUE(ExpandSchemaTemplate(source, *FindSchemaDialect(dialect), &expanded, &error))
            << file.source << " for " << dialect << ": " << error;
         std::string path = SchemaOutputPath(file, dialect);
         EXPECT_TRUE(ReadSource(path) == expanded) << path << " is out of date with " << file.source
                                                   << "; run `make schema` in the build tree";
      }
   }
}

TEST(SchemaFiles, WellFormedBatchFilesPerDialect)
{
   struct Case
   {
      const char *dialect;
      int indexes;                        // CREATE INDEX statements
      std::vector<std::string> foreign;   // type names that do not belong to the dialect
   } cases[] = {
      {"sqlite", 9, {" clob", " text"}},
      {"pgsql", 9, {" clob", " number(", " text"}},
      {"mysql", 9, {" clob", " number("}},
      {"mssql", 9, {" clob", " number("}},
      {"oracle", 8, {" bigint", " text"}},
   };
   const std::regex createTable("CREATE TABLE (\\w+)");
   std::set<std::string> firstTables;
   for (const Case &c : cases)
   {
      std::string name = std::string("sql/") + c.dialect + ".sql";
      std::string file = ReadSource(name);
      std::vector<std::string> statements = SplitStatements(file, name);
      ASSERT_GT(statements.size(), 100u) << name;

      int indexes = 0;
      for (const std::string &statement : statements)
      {
         ASSERT_FALSE(statement.empty()) << name << ": an empty statement";
         EXPECT_EQ(std::string::npos, std::string(" \t\r\n").find(statement[0]))
            << name << ": statement starts with white space: " << statement;
         EXPECT_EQ(std::string::npos, statement.find("$SQL:")) << name << ": " << statement;
         EXPECT_NE('[', statement[0]) << name << ": " << statement;
         EXPECT_NE(0u, statement.find("--")) << name << ": " << statement;
         // Oracle wants DEFAULT before NOT NULL; the others take either order.
         EXPECT_EQ(std::string::npos, statement.find("not null default")) << name << ": " << statement;
         bool isTable = statement.compare(0, 12, "CREATE TABLE") == 0;
         for (const std::string &word : c.foreign)
         {
            EXPECT_TRUE(!isTable || statement.find(word) == std::string::npos)
               << name << ": '" << word << "' in " << statement;
         }
         if (statement.compare(0, 13, "CREATE INDEX ") == 0)
            indexes++;
      }
      EXPECT_EQ(c.indexes, indexes) << name;

      std::string syntax = FindSchemaDialect(c.dialect)->syntax;
      for (const std::string &row : {std::string("('DBFormatVersion','83',"), "('DBSyntax','" + syntax + "',",
                                     std::string("('DBLockStatus','UNLOCKED',"), std::string("('DBLockInfo','#00',")})
         EXPECT_NE(std::string::npos, file.find(row)) << name << ": " << row;
      EXPECT_NE(std::string::npos, file.find("INSERT INTO users (id,")) << name;
      EXPECT_NE(std::string::npos, file.find("VALUES (-2147483648,'Everyone',")) << name;

      // Every dialect creates the same tables.
      std::set<std::string> tables = Matches(file, createTable);
      if (firstTables.empty())
         firstTables = tables;
      EXPECT_EQ(firstTables, tables) << name;
   }
   EXPECT_EQ(0u, firstTables.count("events"));
   EXPECT_EQ(1u, firstTables.count("event_cfg"));
}

// The baseline holds what the first upgrade steps expect to find and nothing
// they would create.
TEST(SchemaFiles, BaselineIsFormat14)
{
   const std::regex createTable("CREATE TABLE (?:IF NOT EXISTS )?(\\w+)");
   for (const char *dialect : {"sqlite", "pgsql", "mysql"})
   {
      std::string name = std::string("tests/fixtures/format14/") + dialect + ".sql";
      std::string file = ReadSource(name);
      SplitStatements(file, name);
      EXPECT_NE(std::string::npos, file.find("('DBFormatVersion','14',")) << name;
      EXPECT_NE(std::string::npos, file.find(std::string("('DBSyntax','") + FindSchemaDialect(dialect)->syntax + "',"))
         << name;
      std::set<std::string> tables = Matches(file, createTable);
      for (const char *old : {"config", "locks", "events", "access_options", "new_nodes", "alarm_notes",
                              "event_group_members", "event_log", "policy_event_list", "images", "default_images",
                              "oid_to_type", "idata_100"})
         EXPECT_EQ(1u, tables.count(old)) << name << ": " << old;
      for (const char *later : {"event_cfg", "object_properties", "snmp_trap_cfg", "modules", "network_services",
                                "raw_dci_values", "object_tools", "cluster_members", "address_lists"})
         EXPECT_EQ(0u, tables.count(later)) << name << ": " << later;
   }
}

}  // namespace
