// The upgrade engine and its table of step procedures.
#include "upgrade/upgrade.h"

#include <stdio.h>

#include "db/settings.h"
#include "db/statements.h"
#include "db/version.h"
#include "maint/lock.h"
#include "upgrade/interrupted_step.h"
#include "upgrade/step_runner.h"
#include "upgrade/steps.h"

const std::vector<UpgradeStep> &UpgradeStepTable()
{
   static const std::vector<UpgradeStep> table = [] {
      std::vector<UpgradeStep> rows;
      for (const UpgradeStepRange *range :
           {&kSteps14To20, &kSteps21To30, &kSteps31To40, &kSteps41To54, &kSteps55To68, &kSteps69To82})
         rows.insert(rows.end(), range->rows, range->rows + range->count);
      return rows;
   }();
   return table;
}

UpgradeProcedure FindUpgradeProcedure(int fromVersion)
{
   for (const UpgradeStep &row : UpgradeStepTable())
      if (row.fromVersion == fromVersion)
         return row.procedure;
   return nullptr;
}

namespace {

// Runs the step from |version| and, when it went through, stores the next
// version as its last statement; the version can never disagree with the
// step that ran. Where steps are marked, the mark goes after the version (see
// upgrade/interrupted_step.h). |again|: the step runs again after an
// interrupted run. Returns false when the step failed.
bool RunStep(UpgradeProcedure procedure, int version, bool again)
{
   StepRunner step(again ? DdlEffectInPlace : nullptr);
   procedure(step);
   step.Exec(VersionStatement(version + 1));
   if (StepsAreMarked())
      step.Exec(StepStartedRemoval());
   return step.ok();
}

}  // namespace

bool RunUpgradeCommand()
{
   printf("Upgrading database...\n");

   // Read once: a failed select or a missing row gives version 0, for which
   // there is no procedure.
   int version = ReadFormatVersion();
   if (version == TargetFormatVersion)
   {
      printf("Your database format is up to date\n");
      return true;
   }
   if (version > TargetFormatVersion)
      return PassFormatVersionGate(version);  // prints why a newer format is refused

   if (IsDatabaseLocked())
   {
      printf("Database is locked\n");
      return false;
   }

   int failuresBefore = FailedStatementCount();
   // The step a run stopped in half-way, where DDL commits by itself.
   int interrupted = StepsAreMarked() ? ReadStepStarted() : -1;
   while (version < TargetFormatVersion)
   {
      UpgradeProcedure procedure = FindUpgradeProcedure(version);
      if (procedure == nullptr)
      {
         printf("Unable to find upgrade procedure for version %d\n", version);
         // Standard output keeps its documented line; the operator also
         // learns why there is no procedure.
         int oldest = UpgradeStepTable().empty() ? TargetFormatVersion : UpgradeStepTable().front().fromVersion;
         if (version == 0)
            fprintf(stderr, "DBFormatVersion could not be read from the config table, or is missing\n");
         else if (version < oldest)
            fprintf(stderr, "Format %d is too old: %d is the oldest format this tool upgrades\n", version, oldest);
         break;
      }
      printf("Upgrading from version %d to %d\n", version, version + 1);
      fflush(stdout);
      // The mark is committed before the step's first DDL can commit anything.
      if (StepsAreMarked() && !MarkStepStarted(version))
         break;
      // Without a transaction a failing step could not be rolled back: it
      // must not run at all.
      if (!BeginTransaction())
         break;
      // A commit that fails has lost the step as surely as a failed statement:
      // counting the version on would report a lost step as done.
      if (!RunStep(procedure, version, version == interrupted) || !CommitTransaction())
      {
         printf("Rolling back last stage due to upgrade errors...\n");
         RollbackTransaction();
         break;
      }
      version++;
   }

   bool succeeded = (version == TargetFormatVersion);
   // Under -X a "succeeded" upgrade may have passed over failed statements;
   // the operator must not take it for a clean one.
   int ignored = FailedStatementCount() - failuresBefore;
   if (succeeded && g_bSkipErrors && ignored > 0)
   {
      if (ignored == 1)
         printf("1 failed SQL statement was ignored (-X)\n");
      else
         printf("%d failed SQL statements were ignored (-X)\n", ignored);
   }
   printf("Database upgrade %s\n", succeeded ? "succeeded" : "failed");
   // The steps before the failed one stay committed: say where a re-run
   // will start from.
   if (!succeeded && version != 0)
      fprintf(stderr, "The database is now at format version %d\n", version);
   return succeeded;
}
