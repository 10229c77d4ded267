// The two ways the check stages learn about the rows they test against: one
// select per object, or tables read once per stage and searched in memory.
#include <stdio.h>

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "check/stages.h"
#include "db/settings.h"
#include "db/statements.h"

namespace {

// Names are shown cut to 63 characters.
const int kNameSize = 64;

// Ids read from one table, sorted, each with one flag (is_deleted for
// object_properties, 0 elsewhere): 8 bytes per row, whatever the rows hold.
struct IdTable
{
   bool loaded = false;
   bool failed = false;
   std::vector<std::pair<uint32_t, uint32_t>> rows;
};

IdTable propertiesTable;
IdTable nsmapTable;
IdTable nodesTable;
IdTable eventsTable;
IdTable eventGroupsTable;
IdTable actionsTable;

// Properties rows created (flag 0) or deleted (-1) by repairs after the table
// was read; consulted first.
std::unordered_map<uint32_t, int> propertiesChanges;

void ReadIdTable(IdTable &table, const char *query, bool withFlag)
{
   table = IdTable();
   table.loaded = true;
   DB_RESULT result = CheckSelect(query);
   if (result == nullptr)
   {
      table.failed = true;
      return;
   }
   int count = DBGetNumRows(result);
   table.rows.reserve((size_t)count);
   for (int row = 0; row < count; row++)
      table.rows.emplace_back(DBGetFieldULong(result, row, 0),
                              withFlag ? (DBGetFieldLong(result, row, 1) != 0 ? 1u : 0u) : 0u);
   DBFreeResult(result);
   std::sort(table.rows.begin(), table.rows.end());
}

// The flag of |id|'s first row, -1 when there is none.
int FindId(const IdTable &table, uint32_t id)
{
   auto it = std::lower_bound(table.rows.begin(), table.rows.end(), std::make_pair(id, 0u));
   if (it == table.rows.end() || it->first != id)
      return -1;
   return (int)it->second;
}

Presence PresenceIn(const IdTable &table, uint32_t id)
{
   if (table.failed)
      return Presence::Unknown;
   return FindId(table, id) >= 0 ? Presence::Present : Presence::Missing;
}

// The is_deleted flag of the object's properties row, -1 when it has none.
int PropertiesFlag(uint32_t id)
{
   auto change = propertiesChanges.find(id);
   if (change != propertiesChanges.end())
      return change->second;
   return FindId(propertiesTable, id);
}

// Per object: the documented selects.

// Runs |query| and tells whether it returned a row.
Presence TestPresence(const std::string &query)
{
   DB_RESULT result = CheckSelect(query);
   if (result == nullptr)
      return Presence::Unknown;
   bool found = DBGetNumRows(result) > 0;
   DBFreeResult(result);
   return found ? Presence::Present : Presence::Missing;
}

ObjectState SelectProperties(uint32_t id)
{
   ObjectState state;
   // A failed select leaves the name empty: nothing more is read for it.
   state.nameRead = true;
   DB_RESULT result =
      CheckSelect(FormatStatement("SELECT name,is_deleted FROM object_properties WHERE object_id=%d", SignedId(id)));
   if (result == nullptr)
      return state;
   if (DBGetNumRows(result) > 0)
   {
      char name[kNameSize] = "";
      DBGetField(result, 0, 0, name, kNameSize);
      state.name = name;
      state.deleted = DBGetFieldLong(result, 0, 1) != 0;
      state.presence = Presence::Present;
   }
   else
   {
      state.presence = Presence::Missing;
   }
   DBFreeResult(result);
   return state;
}

Presence SelectLiveObject(uint32_t id)
{
   return TestPresence(
      FormatStatement("SELECT name FROM object_properties WHERE object_id=%d AND is_deleted=0", SignedId(id)));
}

Presence SelectInSubnet(uint32_t nodeId)
{
   return TestPresence(FormatStatement("SELECT subnet_id FROM nsmap WHERE node_id=%d", SignedId(nodeId)));
}

Presence SelectNode(uint32_t nodeId)
{
   return TestPresence(FormatStatement("SELECT id FROM nodes WHERE id=%d", SignedId(nodeId)));
}

Presence SelectObject(uint32_t id)
{
   return TestPresence(FormatStatement("SELECT object_id FROM object_properties WHERE object_id=%d", SignedId(id)));
}

Presence SelectEvent(uint32_t code)
{
   if (code & kEventGroupFlag)
      return TestPresence(FormatStatement("SELECT id FROM event_groups WHERE id=%d", SignedId(code)));
   return TestPresence(FormatStatement("SELECT event_code FROM event_cfg WHERE event_code=%d", SignedId(code)));
}

Presence SelectAction(uint32_t id)
{
   return TestPresence(FormatStatement("SELECT action_id FROM actions WHERE action_id=%d", SignedId(id)));
}

// Read once: the same answers from the tables in memory.

ObjectState FindProperties(uint32_t id)
{
   ObjectState state;
   if (propertiesTable.failed)
      return state;
   int flag = PropertiesFlag(id);
   state.presence = flag >= 0 ? Presence::Present : Presence::Missing;
   state.deleted = flag > 0;
   // A missing row has no name to read later.
   state.nameRead = flag < 0;
   return state;
}

Presence FindLiveObject(uint32_t id)
{
   if (propertiesTable.failed)
      return Presence::Unknown;
   return PropertiesFlag(id) == 0 ? Presence::Present : Presence::Missing;
}

Presence FindObject(uint32_t id)
{
   if (propertiesTable.failed)
      return Presence::Unknown;
   return PropertiesFlag(id) >= 0 ? Presence::Present : Presence::Missing;
}

Presence FindInSubnet(uint32_t nodeId)
{
   return PresenceIn(nsmapTable, nodeId);
}

Presence FindNode(uint32_t nodeId)
{
   return PresenceIn(nodesTable, nodeId);
}

Presence FindEvent(uint32_t code)
{
   return PresenceIn((code & kEventGroupFlag) ? eventGroupsTable : eventsTable, code);
}

Presence FindAction(uint32_t id)
{
   return PresenceIn(actionsTable, id);
}

const CheckLookups kSelectPerObject = {SelectProperties, SelectLiveObject, SelectInSubnet, SelectNode,
                                       SelectObject,     SelectEvent,      SelectAction};
const CheckLookups kReadOnce = {FindProperties, FindLiveObject, FindInSubnet, FindNode,
                                FindObject,     FindEvent,      FindAction};

}  // namespace

const CheckLookups &StageLookups(int tables, int objects)
{
   ReleaseLookups();
   if (g_bShowQueries)
      return kSelectPerObject;
   if (objects == 0)
      tables = 0;
   if (tables & READ_PROPERTIES)
      ReadIdTable(propertiesTable, "SELECT object_id,is_deleted FROM object_properties", true);
   if (tables & READ_NSMAP)
      ReadIdTable(nsmapTable, "SELECT node_id FROM nsmap", false);
   if (tables & READ_NODES)
      ReadIdTable(nodesTable, "SELECT id FROM nodes", false);
   if (tables & READ_EVENTS)
   {
      ReadIdTable(eventsTable, "SELECT event_code FROM event_cfg", false);
      ReadIdTable(eventGroupsTable, "SELECT id FROM event_groups", false);
   }
   if (tables & READ_ACTIONS)
      ReadIdTable(actionsTable, "SELECT action_id FROM actions", false);
   return kReadOnce;
}

void ReleaseLookups()
{
   for (IdTable *table : {&propertiesTable, &nsmapTable, &nodesTable, &eventsTable, &eventGroupsTable, &actionsTable})
      *table = IdTable();
   propertiesChanges.clear();
}

void NotePropertiesCreated(uint32_t objectId)
{
   if (propertiesTable.loaded)
      propertiesChanges[objectId] = 0;
}

void NotePropertiesDeleted(uint32_t objectId)
{
   if (propertiesTable.loaded)
      propertiesChanges[objectId] = -1;
}

std::string ObjectNameOf(uint32_t objectId, ObjectState &state)
{
   if (!state.nameRead)
   {
      state.nameRead = true;
      DB_RESULT result =
         CheckSelect(FormatStatement("SELECT name FROM object_properties WHERE object_id=%d", SignedId(objectId)));
      if (result != nullptr)
      {
         char name[kNameSize] = "";
         if (DBGetNumRows(result) > 0)
            DBGetField(result, 0, 0, name, kNameSize);
         state.name = name;
         DBFreeResult(result);
      }
   }
   return state.name;
}
