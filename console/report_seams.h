// The console program's side of the core's seams while it reports: boxes
// answered from the options or on the terminal, texts and the loader's line
// handed to the writers, and the core's events, with the console's cause of
// a failed exchange, handed to the recorder.
#pragma once

#include "console/report.h"

// Puts them in gUi, gOutput and gEvents.
void ReportSeamsInstall(const ReportSettings& settings);
