// The dialect rows and what is built from them: the DROP INDEX form and the
// name an index is created under, for every dialect.
#include <string>

#include <gtest/gtest.h>

#include "db/dialects.h"
#include "db/settings.h"

namespace {

// Restores the process-wide dialect after each test.
class DialectTest : public ::testing::Test
{
protected:
   void TearDown() override { g_nSyntax = saved_; }

private:
   int saved_ = g_nSyntax;
};

TEST_F(DialectTest, RowsAreFoundByTheirStoredNameAndInEnumOrder)
{
   const struct
   {
      const char *name;
      int syntax;
   } cases[] = {{"MYSQL", DB_SYNTAX_MYSQL}, {"PGSQL", DB_SYNTAX_PGSQL}, {"MSSQL", DB_SYNTAX_MSSQL},
                {"ORACLE", DB_SYNTAX_ORACLE}, {"SQLITE", DB_SYNTAX_SQLITE}};
   for (const auto &c : cases)
   {
      EXPECT_EQ(c.syntax, FindDialect(c.name)) << c.name;
      EXPECT_STREQ(c.name, Dialects[c.syntax].name);
   }
   for (const char *name : {"", "mysql", "SQLITE3", "POSTGRES"})
      EXPECT_EQ(-1, FindDialect(name)) << name;
}

TEST_F(DialectTest, DropIndexAndIndexNamesPerDialect)
{
   const struct
   {
      int syntax;
      const char *drop;    // of idx_item_id on idata_7
      const char *name;    // of the item-id index of idata_7, documented as idx_item_id
   } cases[] = {
      {DB_SYNTAX_MYSQL, "DROP INDEX idx_item_id ON idata_7", "idx_item_id"},
      {DB_SYNTAX_PGSQL, "DROP INDEX idx_item_id", "idx_idata_7_item_id"},
      {DB_SYNTAX_MSSQL, "DROP INDEX idata_7.idx_item_id", "idx_item_id"},
      {DB_SYNTAX_ORACLE, "DROP INDEX idx_item_id", "idx_idata_7_item_id"},
      {DB_SYNTAX_SQLITE, "DROP INDEX idx_item_id", "idx_idata_7_item_id"},
   };
   for (const auto &c : cases)
   {
      g_nSyntax = c.syntax;
      EXPECT_EQ(c.drop, DropIndexStatement("idx_item_id", "idata_7")) << Dialects[c.syntax].name;
      EXPECT_EQ(c.name, IndexName("idata_7", "item_id", "idx_item_id")) << Dialects[c.syntax].name;
   }
   // The names a fresh database has for the two fixed tables.
   g_nSyntax = DB_SYNTAX_PGSQL;
   EXPECT_EQ("idx_thresholds_item_id", IndexName("thresholds", "item_id", "idx_item_id"));
   EXPECT_EQ("idx_raw_dci_values_item_id", IndexName("raw_dci_values", "item_id", "idx_item_id"));
}

}  // namespace
