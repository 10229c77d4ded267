// Console colours and single-key input, one implementation per platform.
#pragma once

// Console text attributes, as the tool names its colours.
enum ConsoleColor
{
   CONSOLE_NORMAL = 7,
   CONSOLE_GREEN = 10,
   CONSOLE_RED = 12,
   CONSOLE_YELLOW = 14,
   CONSOLE_WHITE = 15
};

// Switches the colour of what follows on standard output. Does nothing unless
// standard output is a terminal, NO_COLOR is unset and TERM is not "dumb". Flushes standard output
// first, so that the colour falls on the right characters.
void SetConsoleColor(int attribute);

// True when standard output is a terminal, where text that is written and
// then erased again (progress) can be shown.
bool IsConsoleOutput();

// Reads one character from standard input: one key press without echo and
// without Enter on a terminal, the next byte otherwise. Returns -1 at end of input.
int ReadKey();
