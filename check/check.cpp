// The check command: its gates, the stage frame every stage prints, the
// one transaction around all repairs, and the summary.
#include "check/check.h"

#include <stdio.h>

#include <chrono>
#include <functional>

#include "check/stages.h"
#include "db/settings.h"
#include "db/statements.h"
#include "db/version.h"
#include "lib/platform/console.h"
#include "maint/lock.h"

namespace {

// Problems found and repaired. Only AskAndRepair adds to them, so the stage
// results and the summary cannot disagree with the questions asked.
struct ProblemTally
{
   int found = 0;
   int fixed = 0;
};
// So far in this run; it only grows.
ProblemTally runTally;
// runTally when the current stage began.
ProblemTally stageStartTally;

// Selects of this run that failed. A check that could not look at everything
// has not shown that the database is sound.
int selectsFailed = 0;

// The label of the current stage, kept to print the stage line again.
std::string stageLabel;

// The result of a stage and how it is shown: six characters wide, in its colour.
enum StageOutcome
{
   STAGE_PASSED = 0,
   STAGE_FIXED = 1,
   STAGE_ERROR = 2
};
const char *const kOutcomeText[] = {"PASSED", "FIXED ", "ERROR "};
const int kOutcomeColor[] = {CONSOLE_GREEN, CONSOLE_YELLOW, CONSOLE_RED};

// Progress on the stage line: shown after a stage has run this long, and
// renewed at most this often.
const std::chrono::milliseconds kProgressDelay(1000);
const std::chrono::milliseconds kProgressInterval(200);
std::chrono::steady_clock::time_point stageStart;
std::chrono::steady_clock::time_point progressShown;
// Characters of progress text after the stage line; the cursor stays before them.
size_t progressWidth = 0;

// Blanks out the progress text, so that whatever comes next (a question, a
// failure report, the result) starts from a clean stage line.
void ClearStageProgress()
{
   if (progressWidth == 0)
      return;
   std::string blank(progressWidth, ' ');
   blank.append(progressWidth, '\b');
   fputs(blank.c_str(), stdout);
   fflush(stdout);
   progressWidth = 0;
}

// Offers to remove a server's lock by force and, when the operator agrees,
// removes it, so that the check starts on an unlocked database. True when the
// database is (now) unlocked. The unlock runs before the check's transaction,
// so it outlives a rollback of the repairs.
bool OfferUnlockBeforeCheck()
{
   UnlockOutcome outcome = OfferForcedUnlock();
   return outcome == UNLOCK_NOT_LOCKED || outcome == UNLOCK_REMOVED;
}

// Prints the summary and commits or rolls back the repairs. Returns true when
// the database is left without a known error.
bool FinishTransaction()
{
   if (runTally.found == 0)
   {
      printf("Database doesn't contain any errors\n");
      CommitTransaction();  // nothing was changed: a failure is reported, nothing is lost
      return true;
   }
   printf("%d errors was found, %d errors was corrected\n", runTally.found, runTally.fixed);
   bool allFixed = runTally.found == runTally.fixed;
   fputs(allFixed ? "All errors in database was fixed\n" : "Database still contain errors\n", stdout);
   if (runTally.fixed == 0)
   {
      RollbackTransaction();
      return false;
   }
   printf("Commit changes (Y/N) ");
   if (AskYesNo())
   {
      printf("Committing changes...\n");
      if (!CommitTransaction())
         return false;
      printf("Changes was successfully committed to database\n");
      return allFixed;
   }
   printf("Rolling back changes...\n");
   if (RollbackTransaction())
      printf("All changes made to database was cancelled\n");
   return false;
}

}  // namespace


void BeginCheckStage(const char *label)
{
   if (label != nullptr)
      stageLabel = label;
   SetConsoleColor(CONSOLE_WHITE);
   fputs("*", stdout);
   SetConsoleColor(CONSOLE_NORMAL);
   printf(" %-68s", stageLabel.c_str());
   fflush(stdout);
   stageStart = std::chrono::steady_clock::now();
   progressWidth = 0;
   stageStartTally = runTally;
}

void EndCheckStage()
{
   ClearStageProgress();
   int found = runTally.found - stageStartTally.found;
   StageOutcome outcome = STAGE_PASSED;
   if (found > 0)
   {
      outcome = (runTally.fixed - stageStartTally.fixed == found) ? STAGE_FIXED : STAGE_ERROR;
      BeginCheckStage(nullptr);
   }
   SetConsoleColor(CONSOLE_WHITE);
   fputs("[", stdout);
   SetConsoleColor(kOutcomeColor[outcome]);
   printf("%s", kOutcomeText[outcome]);
   SetConsoleColor(CONSOLE_WHITE);
   fputs("]", stdout);
   SetConsoleColor(CONSOLE_NORMAL);
   printf("\n");
}

void ShowStageProgress(int done, int total)
{
   // Under -t the trace itself shows how far the stage is. The clock is read
   // only every 256 objects.
   if ((done & 255) != 0 || g_bShowQueries || !IsConsoleOutput())
      return;
   auto now = std::chrono::steady_clock::now();
   if (now - stageStart < kProgressDelay || now - progressShown < kProgressInterval)
      return;
   progressShown = now;
   std::string text = std::to_string(done) + "/" + std::to_string(total);
   if (text.size() < progressWidth)
      text.append(progressWidth - text.size(), ' ');
   progressWidth = text.size();
   text.append(progressWidth, '\b');
   fputs(text.c_str(), stdout);
   fflush(stdout);
}

DB_RESULT CheckSelect(const std::string &query)
{
   ClearStageProgress();
   DB_RESULT result = ExecSelect(query.c_str());
   if (result == nullptr)
      selectsFailed++;
   return result;
}

bool AskAndRepair(const std::string &question, const std::function<bool()> &repair)
{
   ClearStageProgress();
   runTally.found++;
   fputs(question.c_str(), stdout);
   if (!AskYesNo() || !repair())
      return false;
   runTally.fixed++;
   return true;
}

bool AskAndRepair(const std::string &question, const std::string &statement)
{
   return AskAndRepair(question, [&statement] { return Repair(statement); });
}

bool Repair(const std::string &statement)
{
   ClearStageProgress();
   return ExecStatement(statement.c_str());
}

bool RunCheckCommand()
{
   printf("Checking database:\n");
   if (!PassFormatVersionGate(ReadFormatVersion()) || !OfferUnlockBeforeCheck())
   {
      printf("Database check %s\n", "aborted");
      return false;
   }

   // Repairs outside a transaction could not be declined: without one the
   // check does not start.
   if (!BeginTransaction())
   {
      printf("Database check %s\n", "aborted");
      return false;
   }
   // One transaction for all stages: a repair of an earlier stage is seen by the later ones.
   CheckNodeObjects();
   CheckNodeSubObjects("interface", "interfaces");
   CheckNodeSubObjects("network service", "network_services");
   CheckClusterMembers();
   CheckObjectTimestamps();
   CheckEventPolicy();

   bool sound = FinishTransaction();
   printf("Database check %s\n", "completed");
   return sound && selectsFailed == 0;
}
