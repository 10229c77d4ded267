// The upgrade command: brings the schema up to TargetFormatVersion one format
// version at a time, each step in a transaction of its own.
#pragma once

#include <stddef.h>

#include <vector>

class StepRunner;

// A step procedure: turns a database of one format version into the next. It
// runs its operations on |step|, which records whether the step failed; the
// engine then stores the new version (or rolls the step back).
typedef void (*UpgradeProcedure)(StepRunner &step);

// One row of the step table: the version a procedure starts from.
struct UpgradeStep
{
   int fromVersion;
   UpgradeProcedure procedure;
};

// The rows one range file owns, in ascending order of from-version.
struct UpgradeStepRange
{
   const UpgradeStep *rows;
   size_t count;
};

// Every step, the ranges chained in order: ascending from-versions without
// gaps, the last one TargetFormatVersion - 1.
const std::vector<UpgradeStep> &UpgradeStepTable();

// The procedure that starts from |fromVersion|, or nullptr when there is none.
UpgradeProcedure FindUpgradeProcedure(int fromVersion);

// The upgrade command. Returns true when the database ended at the target
// version or already was there; false when the upgrade failed or was refused
// (database locked, newer format, no procedure for a version, a transaction
// that could not be begun).
bool RunUpgradeCommand();
