// The upgrade step procedures, one per format version, and what they share.
#pragma once

#include "db/settings.h"

// True when a step may go on after an operation: it succeeded, or -X passes
// over its failure (the access layer has reported it already).
inline bool StepMayGoOn(bool succeeded)
{
   return succeeded || g_bSkipErrors;
}

// The last operation of every step: stores |version| in DBFormatVersion.
// Returns the result of ExecStatement.
bool SetFormatVersion(int version);

// From 69 to 83 (steps_69_82.cpp).
bool Step69To70();
bool Step70To71();
bool Step71To72();
bool Step72To73();
bool Step73To74();
bool Step74To75();
bool Step75To76();
bool Step76To77();
bool Step77To78();
bool Step78To79();
bool Step79To80();
bool Step80To81();
bool Step81To82();
bool Step82To83();
