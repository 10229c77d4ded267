// The database lock and the unlock command, end to end.
#include <string>

#include "tests/support/harness.h"
#include "tests/support/output.h"

namespace {

const std::string kQuestion = "Do you wish to force database unlock? (Y/N) ";

class UnlockTest : public EngineTest
{
protected:
   void SetUpDatabase() override
   {
      db().CreateConfigTable();
   }

   void Lock(const std::string &owner, const std::string &info)
   {
      db().SetConfig("DBLockStatus", owner);
      db().SetConfig("DBLockInfo", info);
   }

   std::string LockStatus() { return db().Value("SELECT var_value FROM config WHERE var_name='DBLockStatus'"); }
};

TEST_F(UnlockTest, NotLocked)
{
   // No status row at all, then the server's own "UNLOCKED".
   for (bool withRow : {false, true})
   {
      if (withRow)
         db().SetConfig("DBLockStatus", "UNLOCKED");
      ToolRun run = db().Run({"unlock"}, "y");
      EXPECT_EQ(kBanner + "Database is not locked\n", run.out) << "status row: " << withRow;
      EXPECT_EQ(0, run.exitCode);
   }
}

TEST_F(UnlockTest, AnswersDecideWhetherTheLockGoes)
{
   struct Case
   {
      std::vector<std::string> options;
      std::string input;
      std::string answer;
      bool removed;
   } cases[] = {
      {{}, "n", "N\n", false},
      {{}, "N", "N\n", false},
      {{}, "Y", "Y\n", true},
      {{}, "abc\r\n 1y", "Y\n", true},   // everything but y/Y/n/N is ignored
      {{}, "xq\nN", "N\n", false},
      {{}, "", "N\n", false},            // end of input answers no and changes nothing
      {{}, "zzz", "N\n", false},
      // Piped junk: up to 4,095 ignored characters still wait for an answer;
      // the 4,096th ends the input, so an endless stream cannot keep us spinning.
      {{}, std::string(4095, 'x') + "y", "Y\n", true},
      {{}, std::string(4096, 'x') + "y", "N\n", false},
      {{"-f"}, "", "Y\n", true},         // -f answers by itself, reads nothing
   };
   for (const Case &c : cases)
   {
      Lock("KORVEL-01", "host 10.0.0.1 pid 4242");
      std::vector<std::string> args = c.options;
      args.push_back("unlock");
      ToolRun run = db().Run(args, c.input);
      std::string expected = kBanner + "Database is locked by server KORVEL-01 [host 10.0.0.1 pid 4242]\n" + kQuestion +
                             c.answer + (c.removed ? "Database lock removed\n" : "");
      std::string input = c.input.substr(0, 20);
      EXPECT_EQ(expected, run.out) << "input: " << input;
      EXPECT_EQ(0, run.exitCode) << "input: " << input;
      EXPECT_EQ(c.removed ? "UNLOCKED" : "KORVEL-01", LockStatus()) << "input: " << input;
      // The forced unlock clears the status only; the info text stays.
      EXPECT_EQ("host 10.0.0.1 pid 4242", db().Value("SELECT var_value FROM config WHERE var_name='DBLockInfo'"));
   }
}

TEST_F(UnlockTest, LockTextsAsShown)
{
   struct Case
   {
      std::string status;    // stored
      std::string info;      // stored; "<none>" deletes the row
      std::string shown;     // "owner [info]" as printed
   } cases[] = {
      {"unlocked", "x", "unlocked [x]"},                  // the comparison is case-sensitive
      {"UNLOCKED ", "x", "UNLOCKED  [x]"},                // and exact
      {"srv#20A#23B", "a#25b#0D#0Ac", "srv A#B [a%b??c]"},  // decoded; control characters shown as '?'
      // A stored text cannot rewrite the line to disguise the question.
      {"srv#0D#1B[2KDatabase is not locked#0A", "x#07#7F#C2#9By", "srv??[2KDatabase is not locked? [x???y]"},
      {"srv", "<none>", "srv []"},                        // no info row: empty brackets
      {"srv", "#00", "srv []"},
      {std::string(300, 'o'), "i", std::string(255, 'o') + " [i]"},  // the owner is shown cut to 255
   };
   for (const Case &c : cases)
   {
      db().SetConfig("DBLockStatus", c.status);
      if (c.info == "<none>")
         db().DeleteConfig("DBLockInfo");
      else
         db().SetConfig("DBLockInfo", c.info);
      ToolRun run = db().Run({"unlock"}, "n");
      EXPECT_EQ(kBanner + "Database is locked by server " + c.shown + "\n" + kQuestion + "N\n", run.out)
         << "status: " << c.status;
   }
}

TEST_F(UnlockTest, TraceShowsTheForcedUnlock)
{
   Lock("srv", "i");
   ToolRun run = db().Run({"-t", "unlock"}, "y");
   EXPECT_EQ(kBanner + "Database is locked by server srv [i]\n" + kQuestion + "Y\n" +
                ">>> UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'\n"
                "Database lock removed\n",
             run.out);
   EXPECT_EQ(0, run.exitCode);
}

TEST_F(UnlockTest, FailedForcedUnlockExits7)
{
   // A config table whose var_value cannot take the new text makes the update
   // fail on every engine: a CHECK constraint.
   std::string error;
   ASSERT_TRUE(db().Exec("DROP TABLE config", &error)) << error;
   ASSERT_TRUE(db().Exec("CREATE TABLE config (var_name varchar(63) not null, var_value varchar(255), "
                         "is_visible integer, need_server_restart integer, CHECK (var_value <> 'UNLOCKED'))",
                         &error))
      << error;
   db().SetConfig("DBSyntax", db().syntax());
   Lock("srv", "i");
   ToolRun run = db().Run({"unlock"}, "y");
   EXPECT_EQ(kBanner + "Database is locked by server srv [i]\n" + kQuestion +
                "Y\nSQL query failed (ERR):\nUPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'\n",
             MaskErrors(run.out));
   EXPECT_EQ(7, run.exitCode);
   EXPECT_EQ("srv", LockStatus());
}

TEST_F(UnlockTest, ColoursOnlyOnATerminal)
{
   Lock("srv", "i");
   const std::string echoed = "\033[1;37m>>> \033[1;32mUPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'";
   ToolRun run = RunToolOnTerminal({"-c", db().config(), "-t", "unlock"}, "y");
   EXPECT_NE(std::string::npos, run.out.find(echoed)) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("DBLockStatus'\r\n\033[0m")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("(Y/N) Y\r\n\033[1;37m>>> ")) << run.out;
   EXPECT_NE(std::string::npos, run.out.find("\033[0mDatabase lock removed\r\n")) << run.out;
   EXPECT_EQ(0, run.exitCode);

   // NO_COLOR or a dumb terminal, and a pipe: no escape sequence at all.
   for (const char *env : {"NO_COLOR=1", "TERM=dumb"})
   {
      Lock("srv", "i");
      run = RunToolOnTerminal({"-c", db().config(), "-t", "unlock"}, "y", {env});
      EXPECT_EQ(std::string::npos, run.out.find('\033')) << env << "\n" << run.out;
      EXPECT_NE(std::string::npos, run.out.find("Database lock removed")) << env << "\n" << run.out;
   }
   Lock("srv", "i");
   run = db().Run({"-t", "unlock"}, "y");
   EXPECT_EQ(std::string::npos, run.out.find('\033')) << run.out;
}

TEST_F(UnlockTest, TerminalReadsOneKeyWithoutEcho)
{
   Lock("srv", "i");
   // Keys other than y/n are neither echoed nor answered; "n" answers at once, no Enter needed.
   ToolRun run = RunToolOnTerminal({"-c", db().config(), "unlock"}, "qx n", {"NO_COLOR=1"});
   EXPECT_NE(std::string::npos, run.out.find("(Y/N) N\r\n")) << run.out;
   EXPECT_EQ(std::string::npos, run.out.find("qx")) << run.out;
   EXPECT_EQ(0, run.exitCode);
   EXPECT_EQ("srv", LockStatus());
}

}  // namespace
