// The upgrade engine and its table of step procedures.
#include "upgrade/upgrade.h"

#include <stdio.h>

#include "db/scripts.h"
#include "db/settings.h"
#include "db/statements.h"
#include "db/version.h"
#include "maint/lock.h"
#include "upgrade/steps.h"

const UpgradeStep UpgradeStepTable[] = {
   {69, Step69To70},
   {70, Step70To71},
   {71, Step71To72},
   {72, Step72To73},
   {73, Step73To74},
   {74, Step74To75},
   {75, Step75To76},
   {76, Step76To77},
   {77, Step77To78},
   {78, Step78To79},
   {79, Step79To80},
   {80, Step80To81},
   {81, Step81To82},
   {82, Step82To83},
   {0, nullptr},
};

bool SetFormatVersion(int version)
{
   return ExecStatement(
      FormatStatement("UPDATE config SET var_value='%d' WHERE var_name='DBFormatVersion'", version).c_str());
}

namespace {

UpgradeProcedure FindProcedure(int version)
{
   for (const UpgradeStep *row = UpgradeStepTable; row->procedure != nullptr; row++)
      if (row->fromVersion == version)
         return row->procedure;
   return nullptr;
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
   while (version < TargetFormatVersion)
   {
      UpgradeProcedure procedure = FindProcedure(version);
      if (procedure == nullptr)
      {
         printf("Unable to find upgrade procedure for version %d\n", version);
         break;
      }
      printf("Upgrading from version %d to %d\n", version, version + 1);
      fflush(stdout);
      DBBegin(g_hConnection);
      // A commit that fails has lost the step as surely as a failed statement:
      // counting the version on would report a lost step as done.
      if (!procedure() || !DBCommit(g_hConnection))
      {
         printf("Rolling back last stage due to upgrade errors...\n");
         DBRollback(g_hConnection);
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
   return succeeded;
}
