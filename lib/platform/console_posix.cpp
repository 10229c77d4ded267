// POSIX console: ANSI colours on terminals, raw single-key reads.
#include "lib/platform/console.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool ColoursEnabled()
{
   static int enabled = -1;
   if (enabled < 0)
   {
      // A terminal that says it is dumb cannot show escape sequences either.
      const char *noColor = getenv("NO_COLOR");
      const char *term = getenv("TERM");
      bool dumb = term != nullptr && strcmp(term, "dumb") == 0;
      enabled = isatty(STDOUT_FILENO) && (noColor == nullptr || *noColor == 0) && !dumb ? 1 : 0;
   }
   return enabled == 1;
}

const char *AnsiSequence(int attribute)
{
   switch (attribute)
   {
      case CONSOLE_WHITE:
         return "\033[1;37m";
      case CONSOLE_GREEN:
         return "\033[1;32m";
      case CONSOLE_YELLOW:
         return "\033[1;33m";
      case CONSOLE_RED:
         return "\033[1;31m";
      default:
         return "\033[0m";
   }
}

}  // namespace

void SetConsoleColor(int attribute)
{
   fflush(stdout);
   if (!ColoursEnabled())
      return;
   fputs(AnsiSequence(attribute), stdout);
   fflush(stdout);
}

bool IsConsoleOutput()
{
   static int terminal = -1;
   if (terminal < 0)
      terminal = isatty(STDOUT_FILENO) ? 1 : 0;
   return terminal == 1;
}

int ReadKey()
{
   fflush(stdout);
   unsigned char c;
   if (!isatty(STDIN_FILENO))
   {
      ssize_t n;
      do
         n = read(STDIN_FILENO, &c, 1);
      while (n < 0 && errno == EINTR);
      return n == 1 ? c : -1;
   }
   struct termios saved;
   if (tcgetattr(STDIN_FILENO, &saved) != 0)
      return -1;
   struct termios raw = saved;
   raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
   raw.c_cc[VMIN] = 1;
   raw.c_cc[VTIME] = 0;
   tcsetattr(STDIN_FILENO, TCSANOW, &raw);
   ssize_t n = read(STDIN_FILENO, &c, 1);
   tcsetattr(STDIN_FILENO, TCSANOW, &saved);
   return n == 1 ? c : -1;
}
