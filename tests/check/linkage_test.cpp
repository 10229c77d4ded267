// The object linkage stages end to end: class rows without properties, nodes
// outside every subnet, interfaces and network services whose node is gone.
#include <string>

#include "tests/check/check_support.h"

namespace checktest {
namespace {

class LinkageTest : public CheckTest
{
};

// Rows that look odd but are not problems; every stage passes.
TEST_F(LinkageTest, ObjectsThatAreNotProblems)
{
   AddNode(db(), 20, "0.0.0.0");                 // no subnet, but no address either
   AddProperties(db(), 20, "no address");
   AddNode(db(), 21, "10.0.0.21");               // no subnet, but deleted
   AddProperties(db(), 21, "deleted node", 1);
   AddProperties(db(), 22, "properties only");   // parent with properties and no nodes row
   AddInterface(db(), 23, 22);
   AddProperties(db(), 23, "eth0");
   AddHealthyNode(db(), 24, "member");
   AddProperties(db(), 25, "cluster");           // member node deleted but still in nodes
   Plant(db(), "INSERT INTO cluster_members (cluster_id,node_id) VALUES (25,21)");
   AddProperties(db(), 26, "old", 0, 1);         // any non-zero timestamp is valid
   AddProperties(db(), 27, "future", 0, 2147483647);
   Plant(db(), "INSERT INTO policy_source_list (rule_id,object_id) VALUES (1,21)");   // deleted, still has properties

   ToolRun run = Check();
   EXPECT_EQ(kBanner + kHead + StagesOutput() + kClean, run.out);
   EXPECT_EQ(0, run.exitCode);
}

TEST_F(LinkageTest, SubObjectsWithoutALiveParent)
{
   struct Case
   {
      const char *what;
      int parentDeleted;      // -1: the parent has no properties row
      int selfDeleted;
   } cases[] = {
      {"parent marked deleted", 1, 0},
      {"parent without properties", -1, 0},
      {"object itself deleted, parent marked deleted", 1, 1},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      for (const char *table : {"interfaces", "network_services", "object_properties"})
         Plant(db(), std::string("DELETE FROM ") + table);
      if (c.parentDeleted >= 0)
         AddProperties(db(), 9, "parent", c.parentDeleted);
      AddInterface(db(), 11, 9);
      AddProperties(db(), 11, "eth0", c.selfDeleted);
      AddService(db(), 12, 9);
      AddProperties(db(), 12, "ssh", c.selfDeleted);
      // Interface: delete (yes); service: delete (no); commit: yes.
      ToolRun run = Check("YNY");
      EXPECT_EQ(kBanner + kHead +
                   StagesOutput({{INTERFACES, {"\rUnlinked interface object 11 (\"eth0\"). Delete? (Y/N) Y\n", "FIXED "}},
                                 {SERVICES,
                                  {"\rUnlinked network service object 12 (\"ssh\"). Delete? (Y/N) N\n", "ERROR "}}}) +
                   Summary(2, 1, true),
                run.out);
      EXPECT_EQ(7, run.exitCode);
      EXPECT_EQ("0", Count("interfaces"));
      EXPECT_EQ("0", Count("object_properties", "object_id=11"));
      EXPECT_EQ("1", Count("network_services"));
      EXPECT_EQ("1", Count("object_properties", "object_id=12"));
   }
}

TEST_F(LinkageTest, CreatedPropertiesAreReportedAgainForTheirTimestamp)
{
   AddHealthyNode(db(), 9, "parent");
   AddInterface(db(), 11, 9);
   AddService(db(), 12, 9);
   // Create both (yes, yes); their timestamps: interface yes, service no; commit: yes.
   ToolRun run = Check("YYYNY");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{INTERFACES, {"\rMissing interface object 11 properties. Create? (Y/N) Y\n", "FIXED "}},
                              {SERVICES, {"\rMissing network service object 12 properties. Create? (Y/N) Y\n", "FIXED "}},
                              {TIMESTAMPS,
                               {"\rObject 11 [lost_interface_11] has invalid timestamp. Correct? (Y/N) Y\n"
                                "\rObject 12 [lost_network service_12] has invalid timestamp. Correct? (Y/N) N\n",
                                "ERROR "}}}) +
                Summary(4, 3, true),
             run.out);
   EXPECT_EQ(7, run.exitCode);
   Rows rows = db().Query(
      "SELECT object_id,name,status,is_deleted,image_id,inherit_access_rights,status_calc_alg,status_prop_alg,"
      "status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds "
      "FROM object_properties WHERE object_id>10 ORDER BY object_id");
   EXPECT_EQ((Rows{{"11", "lost_interface_11", "5", "0", "0", "1", "0", "0", "0", "0", "0", "0", "00000000"},
                   {"12", "lost_network service_12", "5", "0", "0", "1", "0", "0", "0", "0", "0", "0", "00000000"}}),
             rows);
   EXPECT_NE("0", db().Value("SELECT last_modified FROM object_properties WHERE object_id=11"));
   EXPECT_EQ("0", db().Value("SELECT last_modified FROM object_properties WHERE object_id=12"));
}

TEST_F(LinkageTest, UnlinkedNodeGoesWithItsAccessRights)
{
   AddNode(db(), 9, "10.0.0.9");
   AddProperties(db(), 9, "orphan");
   Plant(db(), "INSERT INTO acl (object_id,user_id,access_rights) VALUES (9,1,255)");
   Plant(db(), "INSERT INTO acl (object_id,user_id,access_rights) VALUES (10,1,255)");
   ToolRun run = Check("YY");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{NODES, {"\rUnlinked node object 9 (\"orphan\"). Delete? (Y/N) Y\n", "FIXED "}}}) +
                Summary(1, 1, true),
             run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("0", Count("nodes"));
   EXPECT_EQ("0", Count("object_properties", "object_id=9"));
   EXPECT_EQ("10", db().Value("SELECT object_id FROM acl WHERE object_id>3"));
}

TEST_F(LinkageTest, LongNamesAreShownCutTo63Characters)
{
   // Only an engine that stores more than the column's 63 characters can hold such a name.
   if (db().engine() != "sqlite")
      GTEST_SKIP() << "names longer than the column allows need SQLite";
   const std::string name(70, 'x');
   AddNode(db(), 9, "10.0.0.9");
   AddProperties(db(), 9, name);
   ToolRun run = Check("N");
   EXPECT_NE(std::string::npos,
             run.out.find("\rUnlinked node object 9 (\"" + name.substr(0, 63) + "\"). Delete? (Y/N) N\n"))
      << run.out;
}

}  // namespace
}  // namespace checktest
