// The stages of the check command and the frame they share: the stage line,
// the question that counts a problem and its repair, and the few helpers the
// stages have in common.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "lib/kvsrv/kvsrv.h"

// Starts a stage: prints "*", a blank and |label| padded to 68 characters, with
// no line break, and takes a snapshot of the counters. With a null |label| it
// prints the current stage line again and takes a new snapshot.
void BeginCheckStage(const char *label);

// Closes the stage line with [PASSED], or, when the stage found problems,
// prints the stage line again and closes it with [FIXED ] (all repaired) or
// [ERROR ] (at least one not).
void EndCheckStage();

// Runs a select through ExecSelect, counting a failure against the check's
// result. Returns the result (freed by the caller) or nullptr.
DB_RESULT CheckSelect(const std::string &query);

// Counts one problem and prints |question| (which starts with "\r" and ends
// with "(Y/N) "). When the operator answers yes it runs |repair|, which tells
// whether the problem is gone; only then is the problem counted as fixed.
// Returns true when it was. Every problem goes through here, so that the stage
// results and the summary agree with the questions asked.
bool AskAndRepair(const std::string &question, const std::function<bool()> &repair);
// The same with a repair of one statement.
bool AskAndRepair(const std::string &question, const std::string &statement);

// Runs one statement of a repair; true when it succeeded.
bool Repair(const std::string &statement);

// The answer of an existence test.
enum class Presence
{
   Present,
   Missing,
   Unknown   // the select failed (already reported): nothing may be repaired on that ground
};

// What a stage knows of an object's properties row.
struct ObjectState
{
   Presence presence = Presence::Unknown;
   bool deleted = false;
   bool nameRead = false;   // |name| holds the row's name (always so when the row was selected by itself)
   std::string name;        // cut to 63 characters
};

// The facts the stages test objects against. Each has two answers: one select
// per object (the statements -t shows), and a lookup in a table read once when
// the stage starts, which keeps a check linear in the number of objects. The
// stages are written once against this table of functions.
struct CheckLookups
{
   // The object's properties row: "SELECT name,is_deleted FROM object_properties WHERE object_id=%d".
   ObjectState (*properties)(uint32_t objectId);
   // Whether the object has a properties row that is not marked deleted.
   Presence (*liveObject)(uint32_t objectId);
   // Whether the node is in a subnet (has an nsmap row).
   Presence (*inSubnet)(uint32_t nodeId);
   // Whether the nodes table has the node.
   Presence (*nodeExists)(uint32_t nodeId);
   // Whether object_properties has the object, deleted or not.
   Presence (*objectExists)(uint32_t objectId);
   // Whether the event (event_cfg) or, with the high bit set, the event group exists.
   Presence (*eventExists)(uint32_t code);
   // Whether the action exists.
   Presence (*actionExists)(uint32_t actionId);
};

// The tables a stage tests against, for StageLookups.
enum LookupTable
{
   READ_PROPERTIES = 1,
   READ_NSMAP = 2,
   READ_NODES = 4,
   READ_EVENTS = 8,     // event_cfg and event_groups
   READ_ACTIONS = 16
};

// Chooses the lookups of a stage that tests |objects| objects: per object
// under -t, otherwise reads the tables named in |tables| (nothing when there
// are no objects; a failed read is reported once and answers every lookup on
// it with Presence::Unknown). Ends with ReleaseLookups.
const CheckLookups &StageLookups(int tables, int objects);
void ReleaseLookups();

// Keeps the tables read once in step with a repair of the same run: a
// properties row was created (live) or deleted.
void NotePropertiesCreated(uint32_t objectId);
void NotePropertiesDeleted(uint32_t objectId);

// The name to show for |state|'s object: the name read with the row, or, when
// the row was only known to exist, read now.
std::string ObjectNameOf(uint32_t objectId, ObjectState &state);

// Shows on the stage line, on a terminal, how far a stage that has run for
// more than a second is: |done| of |total| objects. Cleared again before a
// question and before the stage result.
void ShowStageProgress(int done, int total);

// The event code's high bit marks an event group.
const uint32_t kEventGroupFlag = 0x80000000;

// Writes an id read as unsigned 32 bits the way statements and messages show
// it: signed decimal (0x80000000 is -2147483648).
inline int SignedId(uint32_t id)
{
   return (int)id;
}

// Stages 1 to 3: class rows without properties, unlinked objects.
void CheckNodeObjects();
void CheckNodeSubObjects(const char *typeLabel, const char *table);

// Stages 4 to 6: cluster members, timestamps, the event processing policy.
void CheckClusterMembers();
void CheckObjectTimestamps();
void CheckEventPolicy();
