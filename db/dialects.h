// What differs between the five SQL dialects, one row each, and the few
// statements and names built from it.
#pragma once

#include <string>

// How a dialect drops an index: most name the index alone, MySQL needs the
// table after ON, MSSQL the index qualified by its table.
enum DropIndexForm
{
   DROP_INDEX_PLAIN,      // DROP INDEX idx
   DROP_INDEX_ON_TABLE,   // DROP INDEX idx ON table
   DROP_INDEX_QUALIFIED   // DROP INDEX table.idx
};

struct DialectRow
{
   const char *name;           // as DBSyntax stores it
   const char *text;           // "$SQL:TEXT": the long-text column type
   const char *int64;          // "$SQL:INT64": the 64-bit integer column type
   DropIndexForm dropIndex;
   bool indexNamesPerSchema;   // index names unique in the schema, not per table
   bool transactionalDdl;      // DDL inside a transaction is rolled back with it
};

// Indexed by DatabaseSyntax (db/settings.h). Header-defined so that the schema
// generator, which links nothing of the tool, reads the same rows.
inline const DialectRow Dialects[5] = {
   {"MYSQL", "text", "bigint", DROP_INDEX_ON_TABLE, false, false},
   {"PGSQL", "varchar", "bigint", DROP_INDEX_PLAIN, true, true},
   {"MSSQL", "text", "bigint", DROP_INDEX_QUALIFIED, false, true},
   {"ORACLE", "clob", "number(20)", DROP_INDEX_PLAIN, true, false},
   {"SQLITE", "varchar", "number(20)", DROP_INDEX_PLAIN, true, true},
};

// The same rows under the name the column-type macros are known by.
inline const DialectRow (&ColumnTypeNames)[5] = Dialects;

// The row of the connected dialect (g_nSyntax).
const DialectRow &CurrentDialect();

// The DatabaseSyntax whose DBSyntax name is |name|, or -1.
int FindDialect(const char *name);

// The statement that drops |index| of |table| in the connected dialect.
std::string DropIndexStatement(const char *index, const char *table);

// The name an index of |table| is created under in the connected dialect.
// Where names are per schema, one name cannot serve several tables, so the
// index is named "idx_<table>_<suffix>"; where they are per table (MySQL,
// MSSQL) it keeps |plainName|, the name those databases have always had.
std::string IndexName(const char *table, const char *suffix, const char *plainName);
