// Cluster member, timestamp and event-policy stages.
#include <stdio.h>
#include <time.h>

#include "check/stages.h"
#include "db/statements.h"

namespace {

// The timestamp question shows names cut to 1023 characters; the cluster
// question cuts them to 63.
const int kLongNameSize = 1024;
const int kNameSize = 64;

// One pass of the policy stage: every row of |listQuery| whose id the lookup
// |exists| (of the tables |tables|) finds missing is a problem; |question| builds the question and
// |deleteFormat| the repair for an id. Rows already fetched are visited even
// after a delete has removed them.
template <typename Describe>
void CheckPolicyList(const char *listQuery, int tables, Presence (*CheckLookups::*exists)(uint32_t), Describe question,
                     const char *deleteFormat)
{
   DB_RESULT list = CheckSelect(listQuery);
   if (list == nullptr)
      return;
   int count = DBGetNumRows(list);
   const CheckLookups &lookups = StageLookups(tables, count);
   for (int row = 0; row < count; row++)
   {
      ShowStageProgress(row, count);
      uint32_t id = DBGetFieldULong(list, row, 0);
      // A failed existence read proves nothing: never delete on its ground.
      if ((lookups.*exists)(id) != Presence::Missing)
         continue;
      AskAndRepair(question(id), FormatStatement(deleteFormat, SignedId(id)));
   }
   ReleaseLookups();
   DBFreeResult(list);
}

// The object's name from object_properties, cut to |size|-1 characters, or
// "<unknown>" when there is no such row or the select failed. Returns |buffer|.
char *LookupObjectName(uint32_t objectId, char *buffer, int size)
{
   snprintf(buffer, (size_t)size, "%s", "<unknown>");
   DB_RESULT result = CheckSelect(FormatStatement("SELECT name FROM object_properties WHERE object_id=%d", SignedId(objectId)));
   if (result == nullptr)
      return buffer;
   if (DBGetNumRows(result) > 0)
      DBGetField(result, 0, 0, buffer, size);
   DBFreeResult(result);
   return buffer;
}

}  // namespace

void CheckClusterMembers()
{
   BeginCheckStage("Checking cluster objects...");
   DB_RESULT members = CheckSelect("SELECT cluster_id,node_id FROM cluster_members");
   if (members != nullptr)
   {
      int count = DBGetNumRows(members);
      const CheckLookups &lookups = StageLookups(READ_NODES, count);
      for (int row = 0; row < count; row++)
      {
         ShowStageProgress(row, count);
         uint32_t nodeId = DBGetFieldULong(members, row, 1);
         if (lookups.nodeExists(nodeId) != Presence::Missing)
            continue;
         uint32_t clusterId = DBGetFieldULong(members, row, 0);
         char name[kNameSize];
         LookupObjectName(clusterId, name, kNameSize);
         AskAndRepair(FormatStatement("\rCluster object %s [%d] refers to non-existing node %d. Dereference? (Y/N) ",
                                      Printable(name).c_str(), SignedId(clusterId), SignedId(nodeId)),
                      FormatStatement("DELETE FROM cluster_members WHERE cluster_id=%d AND node_id=%d", SignedId(clusterId),
                                      SignedId(nodeId)));
      }
      ReleaseLookups();
      DBFreeResult(members);
   }
   EndCheckStage();
}

void CheckObjectTimestamps()
{
   BeginCheckStage("Checking object properties...");
   DB_RESULT objects = CheckSelect("SELECT object_id,name,last_modified FROM object_properties");
   if (objects != nullptr)
   {
      int count = DBGetNumRows(objects);
      for (int row = 0; row < count; row++)
      {
         ShowStageProgress(row, count);
         if (DBGetFieldULong(objects, row, 2) != 0)
            continue;
         uint32_t id = DBGetFieldULong(objects, row, 0);
         char name[kLongNameSize];
         DBGetField(objects, row, 1, name, kLongNameSize);
         // The time of the repair, read once the operator has answered.
         AskAndRepair(FormatStatement("\rObject %d [%s] has invalid timestamp. Correct? (Y/N) ", SignedId(id),
                                      Printable(name).c_str()),
                      [id] {
                         return Repair(FormatStatement("UPDATE object_properties SET last_modified=%ld WHERE object_id=%d",
                                                       (long)time(nullptr), SignedId(id)));
                      });
      }
      DBFreeResult(objects);
   }
   EndCheckStage();
}

void CheckEventPolicy()
{
   BeginCheckStage("Checking event processing policy...");
   CheckPolicyList(
      "SELECT object_id FROM policy_source_list", READ_PROPERTIES, &CheckLookups::objectExists,
      [](uint32_t id) { return FormatStatement("\rInvalid object ID %d used. Correct? (Y/N) ", SignedId(id)); },
      "DELETE FROM policy_source_list WHERE object_id=%d");
   CheckPolicyList(
      "SELECT event_code FROM policy_event_list", READ_EVENTS, &CheckLookups::eventExists,
      [](uint32_t code) {
         return FormatStatement("\rInvalid event%s ID 0x%08X used. Correct? (Y/N) ", (code & kEventGroupFlag) ? " group" : "",
                       code);
      },
      "DELETE FROM policy_event_list WHERE event_code=%d");
   CheckPolicyList(
      "SELECT action_id FROM policy_action_list", READ_ACTIONS, &CheckLookups::actionExists,
      [](uint32_t id) { return FormatStatement("\rInvalid action ID %d used. Correct? (Y/N) ", SignedId(id)); },
      "DELETE FROM policy_action_list WHERE action_id=%d");
   EndCheckStage();
}
