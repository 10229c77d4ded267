// The stages of the check command and the frame they share: the stage line,
// the problem counters, and the few helpers the stages have in common.
#pragma once

#include <stdint.h>

#include <string>

#include "lib/kvsrv/kvsrv.h"

// Problems found and repaired so far in this run; they only grow.
extern int g_nErrorsFound;
extern int g_nErrorsFixed;

// Selects of this run that failed. A check that could not look at everything
// has not shown that the database is sound.
extern int g_nSelectsFailed;

// Starts a stage: prints "*", a blank and |label| padded to 68 characters, with
// no line break, and takes a snapshot of the counters. With a null |label| it
// prints the current stage line again and takes a new snapshot.
void BeginCheckStage(const char *label);

// Closes the stage line with [PASSED], or, when the stage found problems,
// prints the stage line again and closes it with [FIXED ] (all repaired) or
// [ERROR ] (at least one not).
void EndCheckStage();

// Runs a select through ExecSelect, counting a failure in g_nSelectsFailed.
// Returns the result (freed by the caller) or nullptr.
DB_RESULT CheckSelect(const std::string &query);

// Counts one problem, prints |question| (which starts with "\r" and ends with
// "(Y/N) ") and returns the operator's answer.
bool AskAboutProblem(const std::string &question);

// Runs a repair statement; true when it succeeded.
bool Repair(const std::string &statement);

// The answer of an existence test.
enum class Presence
{
   Present,
   Missing,
   Unknown   // the select failed (already reported): nothing may be repaired on that ground
};

// Runs |query| and tells whether it returned a row.
Presence TestPresence(const std::string &query);

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

// The object's name from object_properties, cut to |size|-1 characters, or
// "<unknown>" when there is no such row or the select failed. Returns |buffer|.
char *LookupObjectName(uint32_t objectId, char *buffer, int size);

// Whether the nodes table has a row with |nodeId|.
Presence NodeExists(uint32_t nodeId);
