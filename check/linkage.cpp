// Object linkage stages: class rows without a properties row, nodes outside
// every subnet, and interfaces or network services whose node is gone.
#include <stdio.h>

#include "check/stages.h"
#include "db/statements.h"
#include "db/settings.h"

namespace {

// The properties row created for a class row that has none. Its last_modified
// is 0, so the timestamp stage reports it again. MySQL keeps the comments
// column as "text not null" without a default, so there the row also gets an
// empty comment ("#00" in stored-text form) or the insert would always fail.
std::string LostPropertiesInsert(uint32_t id, const std::string &name)
{
   bool mysql = g_nSyntax == DB_SYNTAX_MYSQL;
   return FormatStatement("INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
                 "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
                 "status_single_threshold,status_thresholds%s) VALUES (%d,'%s',5,0,0,1,0,0,0,0,0,0,0,'00000000'%s)",
                 mysql ? ",comments" : "", SignedId(id), name.c_str(), mysql ? ",'#00'" : "");
}

// Deletes a node outside every subnet: its row, its access rights and its
// properties row. True when all three went.
bool DeleteUnlinkedNode(uint32_t id)
{
   bool deletedAll = Repair(FormatStatement("DELETE FROM nodes WHERE id=%d", SignedId(id))) &&
                     Repair(FormatStatement("DELETE FROM acl WHERE object_id=%d", SignedId(id)));
   // The properties row goes even when the node row could not be deleted.
   if (Repair(FormatStatement("DELETE FROM object_properties WHERE object_id=%d", SignedId(id))))
      NotePropertiesDeleted(id);
   else
      deletedAll = false;
   return deletedAll;
}

// Deletes an interface or network service (a row of |table|) whose node is
// gone, then its properties row. True when the class row went: that row is
// what made the object, so a leftover properties row is harmless.
bool DeleteUnlinkedSubObject(const char *table, uint32_t id)
{
   if (!Repair(FormatStatement("DELETE FROM %s WHERE id=%d", table, SignedId(id))))
      return false;
   if (Repair(FormatStatement("DELETE FROM object_properties WHERE object_id=%d", SignedId(id))))
      NotePropertiesDeleted(id);
   return true;
}

}  // namespace

void CheckNodeObjects()
{
   BeginCheckStage("Checking node objects...");
   DB_RESULT nodes = CheckSelect("SELECT id,primary_ip FROM nodes");
   if (nodes != nullptr)
   {
      int count = DBGetNumRows(nodes);
      const CheckLookups &lookups = StageLookups(READ_PROPERTIES | READ_NSMAP, count);
      for (int row = 0; row < count; row++)
      {
         ShowStageProgress(row, count);
         uint32_t id = DBGetFieldULong(nodes, row, 0);
         ObjectState properties = lookups.properties(id);
         // Without knowing whether the node is deleted, the subnet test could
         // offer to delete a node the server still keeps: skip it.
         if (properties.presence == Presence::Unknown)
            continue;
         if (properties.presence == Presence::Missing &&
             AskAndRepair(FormatStatement("\rMissing node object %d properties. Create? (Y/N) ", SignedId(id)),
                          LostPropertiesInsert(id, FormatStatement("lost_node_%d", SignedId(id)))))
            NotePropertiesCreated(id);
         if (properties.deleted)
            continue;

         bool unlinked = lookups.inSubnet(id) == Presence::Missing && DBGetFieldIPAddr(nodes, row, 1) != 0;
         if (unlinked)
            AskAndRepair(FormatStatement("\rUnlinked node object %d (\"%s\"). Delete? (Y/N) ", SignedId(id),
                                         Printable(ObjectNameOf(id, properties).c_str()).c_str()),
                         [id] { return DeleteUnlinkedNode(id); });
      }
      ReleaseLookups();
      DBFreeResult(nodes);
   }
   EndCheckStage();
}

void CheckNodeSubObjects(const char *typeLabel, const char *table)
{
   BeginCheckStage(FormatStatement("Checking %s objects...", typeLabel).c_str());
   DB_RESULT objects = CheckSelect(FormatStatement("SELECT id,node_id FROM %s", table));
   if (objects != nullptr)
   {
      int count = DBGetNumRows(objects);
      const CheckLookups &lookups = StageLookups(READ_PROPERTIES, count);
      for (int row = 0; row < count; row++)
      {
         ShowStageProgress(row, count);
         uint32_t id = DBGetFieldULong(objects, row, 0);
         ObjectState properties = lookups.properties(id);
         if (properties.presence == Presence::Missing &&
             AskAndRepair(FormatStatement("\rMissing %s object %d properties. Create? (Y/N) ", typeLabel, SignedId(id)),
                          LostPropertiesInsert(id, FormatStatement("lost_%s_%d", typeLabel, SignedId(id)))))
            NotePropertiesCreated(id);

         uint32_t nodeId = DBGetFieldULong(objects, row, 1);
         if (lookups.liveObject(nodeId) == Presence::Missing)
            AskAndRepair(FormatStatement("\rUnlinked %s object %d (\"%s\"). Delete? (Y/N) ", typeLabel, SignedId(id),
                                         Printable(ObjectNameOf(id, properties).c_str()).c_str()),
                         [table, id] { return DeleteUnlinkedSubObject(table, id); });
      }
      ReleaseLookups();
      DBFreeResult(objects);
   }
   EndCheckStage();
}
