// SQL batch files: ';'-terminated statements run one by one until one fails.
#pragma once

// How a batch file run ended.
enum BatchOutcome
{
   BATCH_DONE,              // every statement ran
   BATCH_NOTHING_TO_RUN,    // the file holds only blank statements, or nothing
   BATCH_LOAD_FAILED,       // the file could not be read
   BATCH_STATEMENT_FAILED   // a statement failed; the run stopped there
};

// Runs the batch file at |path| without a transaction, statement by
// statement, until one fails. Its two callers judge the outcome differently:
// the batch command (RunBatchCommand) accepts a file with nothing to run,
// init (RunInitCommand) needs BATCH_DONE, since an empty schema file leaves
// no database behind.
BatchOutcome RunBatch(const char *path);

// The batch command: false only when the file could not be loaded or a
// statement failed. A file with nothing to run is not an error.
bool RunBatchCommand(const char *path);

// The statement splitter RunBatch walks a file with. Only RunBatch needs it;
// it is declared here for its fuzz target (tests/fuzz/batch_fuzz.cpp).

// Returns the ';' that ends the statement starting at |start| (the first one
// outside single-quoted text), or |end| when there is none. Changes nothing.
char *StatementEnd(char *start, char *end);

// Finds the end of the statement that starts at |start|: the first ';' outside
// single-quoted text. Overwrites that ';' with a terminating zero and returns
// the position after the one character that follows it. When there is no such
// ';' the statement runs to |end| and the result is |end| or beyond.
char *NextStatement(char *start, char *end);

// True when |text| holds only blanks, tabs, carriage returns and line feeds, or nothing.
bool IsBlankStatement(const char *text);
