// Steps interrupted half-way on MySQL, and running them again.
//
// MySQL commits before every DDL statement, so a step that fails or is
// stopped after some of its DDL leaves that DDL in place while the version
// still says the step has not run; running it again would fail at the first
// statement that already took effect. So on MySQL every step marks itself
// started (a hidden configuration variable holding the version it starts
// from, committed before the step begins) and the mark goes with the step's
// version statement. A run that finds the mark on the version the database
// is at is running that step again, and there only, a DDL statement that
// fails while its effect is already in place counts as done.
#pragma once

#include <string>

// The hidden configuration variable of the mark.
extern const char kStepStartedVariable[];

// True where steps are marked: where DDL is not part of the transaction.
bool StepsAreMarked();

// The version the marked step starts from; -1 when there is no mark.
int ReadStepStarted();

// Marks the step from |fromVersion| started, committed at once (call it
// outside a transaction). False when it failed (reported).
bool MarkStepStarted(int fromVersion);

// The statement that removes the mark; run after the version statement, so
// that a mark left behind by a kill between the two is on an older version
// than the database and means nothing.
std::string StepStartedRemoval();

// For a DDL statement that has just failed on MySQL: true when its effect is
// in place all the same, checked in the server's catalogue. A table dropped
// or created, a column added or dropped, an index or primary key created or
// dropped. Any other statement, or a check that cannot be made: false.
bool DdlEffectInPlace(const char *statement);
