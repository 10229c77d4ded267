// The cluster, timestamp and event-policy stages end to end.
#include <string>

#include "tests/check/check_support.h"

namespace checktest {
namespace {

class PolicyTest : public CheckTest
{
};

TEST_F(PolicyTest, ClusterMemberWhoseNodeIsGone)
{
   struct Case
   {
      const char *what;
      bool clusterHasProperties;
      std::string shownName;
   } cases[] = {
      {"named cluster", true, "backbone"},
      {"cluster without properties", false, "<unknown>"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      Plant(db(), "DELETE FROM object_properties");
      if (c.clusterHasProperties)
         AddProperties(db(), 30, "backbone");
      Plant(db(), "INSERT INTO cluster_members (cluster_id,node_id) VALUES (30,77)");
      ToolRun run = Check("YY");
      EXPECT_EQ(kBanner + kHead +
                   StagesOutput({{CLUSTERS,
                                  {"\rCluster object " + c.shownName +
                                      " [30] refers to non-existing node 77. Dereference? (Y/N) Y\n",
                                   "FIXED "}}}) +
                   Summary(1, 1, true),
                run.out);
      EXPECT_EQ(0, run.exitCode);
      EXPECT_EQ("0", Count("cluster_members"));
   }
}

TEST_F(PolicyTest, ObjectIdInThreeRowsIsThreeProblems)
{
   for (int rule = 1; rule <= 3; rule++)
      Plant(db(), "INSERT INTO policy_source_list (rule_id,object_id) VALUES (" + std::to_string(rule) + ",40)");
   // The first repair removes all three rows; the later two are still visited
   // and their deletes, which match nothing, count as repairs.
   const std::string question = "\rInvalid object ID 40 used. Correct? (Y/N) Y\n";
   ToolRun run = Check("YYYY");
   EXPECT_EQ(kBanner + kHead + StagesOutput({{POLICY, {question + question + question, "FIXED "}}}) +
                Summary(3, 3, true),
             run.out);
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("0", Count("policy_source_list"));
}

TEST_F(PolicyTest, MissingEventsGroupsAndActions)
{
   Plant(db(), "DELETE FROM event_cfg WHERE event_code=26");   // event 27 stays defined
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,-2147483648)");   // group 0x80000000
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (2,26)");
   Plant(db(), "INSERT INTO policy_event_list (rule_id,event_code) VALUES (3,27)");
   AddAction(db(), 6);
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,5)");
   Plant(db(), "INSERT INTO policy_action_list (rule_id,action_id) VALUES (1,6)");
   // Group: yes; event: no; action: yes; commit: yes.
   ToolRun run = Check("YNYY");
   EXPECT_EQ(kBanner + kHead +
                StagesOutput({{POLICY,
                               {"\rInvalid event group ID 0x80000000 used. Correct? (Y/N) Y\n"
                                "\rInvalid event ID 0x0000001A used. Correct? (Y/N) N\n"
                                "\rInvalid action ID 5 used. Correct? (Y/N) Y\n",
                                "ERROR "}}}) +
                Summary(3, 2, true),
             run.out);
   EXPECT_EQ(7, run.exitCode);
   Rows events = db().Query("SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id");
   EXPECT_EQ((Rows{{"2", "26"}, {"3", "27"}}), events);
   EXPECT_EQ("6", db().Value("SELECT action_id FROM policy_action_list"));
}

}  // namespace
}  // namespace checktest
