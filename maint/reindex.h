// Drops and re-creates the fixed list of indexes.
#pragma once

// Returns true when the command did its work; false when it failed or was refused.
bool RunReindexCommand();
