// The upgrade step procedures, one per format version, and the range tables
// the engine chains into its step table.
//
// Adding a step: write `void StepNNToMM(StepRunner &step)` as its operations
// in order (upgrade/step_runner.h says what each does and how a failure is
// handled), declare it below, and add {NN, StepNNToMM} to its range's table.
// The engine runs the version statement after the step; the step never does.
#pragma once

#include "upgrade/step_runner.h"
#include "upgrade/upgrade.h"

// From 14 to 21 (steps_14_20.cpp).
extern const UpgradeStepRange kSteps14To20;
void Step14To15(StepRunner &step);
void Step15To16(StepRunner &step);
void Step16To17(StepRunner &step);
void Step17To18(StepRunner &step);
void Step18To19(StepRunner &step);
void Step19To20(StepRunner &step);
void Step20To21(StepRunner &step);

// From 21 to 31 (steps_21_30.cpp).
extern const UpgradeStepRange kSteps21To30;
void Step21To22(StepRunner &step);
void Step22To23(StepRunner &step);
void Step23To24(StepRunner &step);
void Step24To25(StepRunner &step);
void Step25To26(StepRunner &step);
void Step26To27(StepRunner &step);
void Step27To28(StepRunner &step);
void Step28To29(StepRunner &step);
void Step29To30(StepRunner &step);
void Step30To31(StepRunner &step);

// From 31 to 41 (steps_31_40.cpp).
extern const UpgradeStepRange kSteps31To40;
void Step31To32(StepRunner &step);
void Step32To33(StepRunner &step);
void Step33To34(StepRunner &step);
void Step34To35(StepRunner &step);
void Step35To36(StepRunner &step);
void Step36To37(StepRunner &step);
void Step37To38(StepRunner &step);
void Step38To39(StepRunner &step);
void Step39To40(StepRunner &step);
void Step40To41(StepRunner &step);

// From 41 to 55 (steps_41_54.cpp).
extern const UpgradeStepRange kSteps41To54;
void Step41To42(StepRunner &step);
void Step42To43(StepRunner &step);
void Step43To44(StepRunner &step);
void Step44To45(StepRunner &step);
void Step45To46(StepRunner &step);
void Step46To47(StepRunner &step);
void Step47To48(StepRunner &step);
void Step48To49(StepRunner &step);
void Step49To50(StepRunner &step);
void Step50To51(StepRunner &step);
void Step51To52(StepRunner &step);
void Step52To53(StepRunner &step);
void Step53To54(StepRunner &step);
void Step54To55(StepRunner &step);

// From 55 to 69 (steps_55_68.cpp).
extern const UpgradeStepRange kSteps55To68;
void Step55To56(StepRunner &step);
void Step56To57(StepRunner &step);
void Step57To58(StepRunner &step);
void Step58To59(StepRunner &step);
void Step59To60(StepRunner &step);
void Step60To61(StepRunner &step);
void Step61To62(StepRunner &step);
void Step62To63(StepRunner &step);
void Step63To64(StepRunner &step);
void Step64To65(StepRunner &step);
void Step65To66(StepRunner &step);
void Step66To67(StepRunner &step);
void Step67To68(StepRunner &step);
void Step68To69(StepRunner &step);

// From 69 to 83 (steps_69_82.cpp).
extern const UpgradeStepRange kSteps69To82;
void Step69To70(StepRunner &step);
void Step70To71(StepRunner &step);
void Step71To72(StepRunner &step);
void Step72To73(StepRunner &step);
void Step73To74(StepRunner &step);
void Step74To75(StepRunner &step);
void Step75To76(StepRunner &step);
void Step76To77(StepRunner &step);
void Step77To78(StepRunner &step);
void Step78To79(StepRunner &step);
void Step79To80(StepRunner &step);
void Step80To81(StepRunner &step);
void Step81To82(StepRunner &step);
void Step82To83(StepRunner &step);
