// What a database is made of, as the engine itself reports it: tables,
// columns with their types, primary keys and indexes, one line each, so that
// an upgraded database and a fresh one can be compared line by line.
#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/support/engines.h"
#include "tests/support/harness.h"

// Lines of the form
//    table <t>
//    column <t>.<c> <type> [not null]
//    key <t>(<c>,...)
//    index <name> on <t>(<c>,...)
// sorted. Names are lower case. Tables for which |skipTable| is true are left out.
template <typename Skip>
std::vector<std::string> SchemaShape(TestDatabase &db, Skip skipTable)
{
   auto lower = [](std::string s) {
      std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
      return s;
   };
   std::vector<std::string> lines;
   std::vector<std::string> tables;
   const std::string engine = CurrentEngine().dialect;
   if (engine == "sqlite")
   {
      for (const auto &row : db.Query("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'"))
         tables.push_back(lower(row[0]));
      for (const std::string &t : tables)
      {
         if (skipTable(t))
            continue;
         lines.push_back("table " + t);
         std::vector<std::pair<int, std::string>> key;
         for (const auto &row : db.Query("SELECT name,lower(type),\"notnull\",pk FROM pragma_table_info('" + t + "')"))
         {
            lines.push_back("column " + t + "." + lower(row[0]) + " " + row[1] + (row[2] == "1" ? " not null" : ""));
            if (row[3] != "0")
               key.push_back({std::stoi(row[3]), lower(row[0])});
         }
         std::sort(key.begin(), key.end());
         std::string columns;
         for (const auto &k : key)
            columns += (columns.empty() ? "" : ",") + k.second;
         if (!columns.empty())
            lines.push_back("key " + t + "(" + columns + ")");
      }
      for (const auto &row : db.Query("SELECT name,tbl_name FROM sqlite_master WHERE type='index' "
                                      "AND name NOT LIKE 'sqlite_autoindex%'"))
      {
         if (skipTable(lower(row[1])))
            continue;
         std::string columns;
         for (const auto &c : db.Query("SELECT name FROM pragma_index_info('" + row[0] + "') ORDER BY seqno"))
            columns += (columns.empty() ? "" : ",") + lower(c[0]);
         lines.push_back("index " + lower(row[0]) + " on " + lower(row[1]) + "(" + columns + ")");
      }
   }
   else if (engine == "pgsql")
   {
      for (const auto &row : db.Query("SELECT table_name,column_name,data_type,"
                                      "COALESCE(CAST(character_maximum_length AS varchar),''),is_nullable "
                                      "FROM information_schema.columns WHERE table_schema=current_schema()"))
      {
         std::string t = lower(row[0]);
         if (skipTable(t))
            continue;
         std::string type = row[2] == "character varying" ? "varchar" : row[2];
         if (!row[3].empty())
            type += "(" + row[3] + ")";
         lines.push_back("column " + t + "." + lower(row[1]) + " " + type + (row[4] == "NO" ? " not null" : ""));
      }
      for (const auto &row : db.Query("SELECT table_name FROM information_schema.tables "
                                      "WHERE table_schema=current_schema() AND table_type='BASE TABLE'"))
         if (!skipTable(lower(row[0])))
            lines.push_back("table " + lower(row[0]));
      // Each index with its columns in key order; the primary key as "key".
      for (const auto &row : db.Query(
              "SELECT i.relname,t.relname,x.indisprimary,"
              "(SELECT string_agg(a.attname,',' ORDER BY k.ord) FROM unnest(x.indkey::int2[]) WITH ORDINALITY "
              "AS k(attnum,ord) JOIN pg_attribute a ON a.attrelid=t.oid AND a.attnum=k.attnum) "
              "FROM pg_index x JOIN pg_class i ON i.oid=x.indexrelid JOIN pg_class t ON t.oid=x.indrelid "
              "JOIN pg_namespace n ON n.oid=t.relnamespace WHERE n.nspname=current_schema()"))
      {
         std::string t = lower(row[1]);
         if (skipTable(t))
            continue;
         if (row[2] == "t" || row[2] == "1")
            lines.push_back("key " + t + "(" + lower(row[3]) + ")");
         else
            lines.push_back("index " + lower(row[0]) + " on " + t + "(" + lower(row[3]) + ")");
      }
   }
   else
   {
      for (const auto &row : db.Query("SELECT table_name,column_name,column_type,is_nullable "
                                      "FROM information_schema.columns WHERE table_schema=DATABASE()"))
      {
         std::string t = lower(row[0]);
         if (!skipTable(t))
            lines.push_back("column " + t + "." + lower(row[1]) + " " + lower(row[2]) +
                            (row[3] == "NO" ? " not null" : ""));
      }
      for (const auto &row : db.Query("SELECT table_name FROM information_schema.tables "
                                      "WHERE table_schema=DATABASE() AND table_type='BASE TABLE'"))
         if (!skipTable(lower(row[0])))
            lines.push_back("table " + lower(row[0]));
      for (const auto &row : db.Query("SELECT index_name,table_name,"
                                      "GROUP_CONCAT(column_name ORDER BY seq_in_index SEPARATOR ',') "
                                      "FROM information_schema.statistics WHERE table_schema=DATABASE() "
                                      "GROUP BY index_name,table_name"))
      {
         std::string t = lower(row[1]);
         if (skipTable(t))
            continue;
         if (row[0] == "PRIMARY")
            lines.push_back("key " + t + "(" + lower(row[2]) + ")");
         else
            lines.push_back("index " + lower(row[0]) + " on " + t + "(" + lower(row[2]) + ")");
      }
   }
   std::sort(lines.begin(), lines.end());
   return lines;
}

inline std::vector<std::string> SchemaShape(TestDatabase &db)
{
   return SchemaShape(db, [](const std::string &) { return false; });
}

// Every row of every table of |shape|, each row as one line "<t>: a|b|...",
// sorted; the columns named in |skipColumns| ("<t>.<c>") are left out.
inline std::vector<std::string> TableContents(TestDatabase &db, const std::vector<std::string> &shape,
                                              const std::set<std::string> &skipColumns)
{
   std::vector<std::string> lines;
   for (const std::string &line : shape)
   {
      if (line.compare(0, 6, "table ") != 0)
         continue;
      const std::string t = line.substr(6);
      std::string columns;
      for (const std::string &c : shape)
      {
         const std::string prefix = "column " + t + ".";
         if (c.compare(0, prefix.size(), prefix) != 0)
            continue;
         std::string name = c.substr(prefix.size(), c.find(' ', prefix.size()) - prefix.size());
         if (skipColumns.count(t + "." + name) == 0)
            columns += (columns.empty() ? "" : ",") + name;
      }
      if (columns.empty())
         continue;
      for (const auto &row : db.Query("SELECT " + columns + " FROM " + t))
      {
         std::string text = t + ":";
         for (const std::string &field : row)
            text += " " + field + "|";
         lines.push_back(text);
      }
   }
   std::sort(lines.begin(), lines.end());
   return lines;
}

// The lines of |a| that |b| lacks.
inline std::vector<std::string> Missing(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
   std::vector<std::string> out;
   std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
   return out;
}
