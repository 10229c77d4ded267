// Brings the schema up to the target format version, one transaction per step.
#pragma once

// Returns true when the command did its work; false when it failed or was refused.
bool RunUpgradeCommand();
