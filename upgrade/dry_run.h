// The upgrade's dry run: every pending step runs on the real data, then all of
// it is undone. On SQLite the steps run on a copy of the database file; on an
// engine whose DDL is transactional, in one transaction that is rolled back;
// elsewhere nothing could be undone, so the dry run is refused.
#pragma once

#include <string>

// The name of the dry run's copy of the SQLite database |file| for the
// process |pid|: in the same folder, so that it lands on the same file system
// and nobody needs to know about another place.
std::string DryRunCopyName(const std::string &file, long pid);

// Removes the copies of |file| that dry runs killed before they could clean up
// left behind (their process is gone), with their journal files.
void RemoveStaleDryRunCopies(const char *file);

// Before connecting, on SQLite: copies the database file named by g_szDbName
// (and a journal or WAL file beside it) and points g_szDbName at the copy. The
// copy is removed by RemoveDryRunCopy, at exit, and when SIGINT, SIGTERM or
// SIGHUP end the run. Returns false, after saying why, when no copy was made.
bool PrepareDryRunCopy();

// Removes the copy made by PrepareDryRunCopy, if any.
void RemoveDryRunCopy();

// The upgrade run as a dry run. Returns true when the upgrade would have
// succeeded (or there was nothing to do) and everything has been undone.
bool RunUpgradeDryRun();
