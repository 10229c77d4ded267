// SQL batch files: ';'-terminated statements run one by one until one fails.
#pragma once

// Runs the batch file at |path| without a transaction. Returns true when at
// least one statement ran and the last one run succeeded; false when the file
// cannot be loaded, holds no statement, or a statement failed (the run stops there).
bool RunBatchFile(const char *path);

// Finds the end of the statement that starts at |start|: the first ';' outside
// single-quoted text. Overwrites that ';' with a terminating zero and returns
// the position after the one character that follows it. When there is no such
// ';' the statement runs to |end| and the result is |end| or beyond.
char *NextStatement(char *start, char *end);

// True when |text| holds only blanks, tabs, carriage returns and line feeds, or nothing.
bool IsBlankStatement(const char *text);
