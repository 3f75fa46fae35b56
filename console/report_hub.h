// The writers the console program reports to, for the files that feed
// them (console/report.cpp, console/report_seams.cpp).
#pragma once

#include <cstddef>

#include "console/repeated_boxes.h"
#include "runlog/run_writer.h"

size_t ReportWriterCount();
const RunWriter& ReportWriter(size_t index);

// Calls `call` with each writer in use, after a held box.
template <typename Call>
void ForEachReportWriter(Call call) {
    RepeatedBoxesFlush();
    for (size_t i = 0; i < ReportWriterCount(); ++i) call(ReportWriter(i));
}
