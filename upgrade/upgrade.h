// The upgrade command: brings the schema up to TargetFormatVersion one format
// version at a time, each step in a transaction of its own.
#pragma once

// A step procedure: turns a database of one format version into the next and
// stores the new version last. Returns true when the step completed (or -X
// passed over its failures), false when it must be rolled back.
typedef bool (*UpgradeProcedure)();

// One row of UpgradeStepTable: the version a procedure starts from.
struct UpgradeStep
{
   int fromVersion;
   UpgradeProcedure procedure;
};

// The procedures in ascending order of from-version, without gaps, ending with
// the terminator row {0, nullptr}.
extern const UpgradeStep UpgradeStepTable[];

// The upgrade command. Returns true when the database ended at the target
// version or already was there; false when the upgrade failed or was refused
// (database locked, newer format, no procedure for a version).
bool RunUpgradeCommand();
