// Finds and repairs inconsistencies in one transaction.
#pragma once

// Returns true when the command did its work; false when it failed or was refused.
bool RunCheckCommand();
