// Single statements and selects with tracing and one failure report each, and
// the operator's Y/N question.
#pragma once

#include <string>

#include "lib/kvsrv/kvsrv.h"

// Formats like printf into a string of whatever length the result needs, so
// that no statement or message is ever cut.
std::string FormatStatement(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Prints a trace line: ">>> " in bright white, the statement in bright green.
void EchoStatement(const char *statement);

// Tells whether the effect of a statement that just failed is in place all
// the same (a table it creates exists already, ...).
typedef bool (*EffectInPlace)(const char *statement);

// Runs a statement that returns no rows. An empty text succeeds at once,
// silently. Echoed under -t; a failure is reported with the driver's error
// text and the statement. Returns true on success. When |alreadyDone| is
// given and says that a failed statement's effect is in place, the statement
// counts as done: one line says so, and nothing is reported or counted.
bool ExecStatement(const char *statement, EffectInPlace alreadyDone = nullptr);

// Runs a statement whose failure is expected and harmless (dropping an index
// that may not exist): neither echoed nor reported, not counted. Returns true
// on success.
bool ExecQuietStatement(const char *statement);

// Begin, commit and roll back the transaction on g_hConnection. A failure is
// reported like a failed statement, with the driver's error text, and
// counted. Return true on success.
bool BeginTransaction();
bool CommitTransaction();
bool RollbackTransaction();

// Runs a select; echoed under -t. Returns the result (the caller frees it with
// DBFreeResult) or nullptr after reporting the failure.
DB_RESULT ExecSelect(const char *query);

// How many statements and selects have failed (and been reported) through
// ExecStatement and ExecSelect since the program started.
int FailedStatementCount();

// Returns |text| fit to print inside a message or a question: every control
// character (C0, DEL, and C1 written as UTF-8) is shown as '?', so that text
// read from the database can never move the cursor, clear the line or change
// colours, and so never disguise a question as another.
std::string Printable(const char *text);

// Completes a "(Y/N) " question with the answer and returns true for yes.
// Under -f answers yes without reading. Ignores every key but y, Y, n and N;
// at end of input answers no. After kMaxIgnoredKeys ignored keys in a row the
// input counts as ended for the rest of the run (answer no, nothing more read),
// so that an endless stream of other characters cannot keep the tool spinning.
const int kMaxIgnoredKeys = 4096;
bool AskYesNo();
