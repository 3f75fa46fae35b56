// An update or check of the chosen device from discovery to its result, run
// again (--retries) after a failure that another attempt may mend, and only
// on a device that the bus proves to be the one chosen.
#pragma once

#include "console/options.h"
#include "runlog/run_record.h"
#include "runlog/run_writer.h"

// Runs options.command (Update or Check), reports its result and returns
// the exit code. Chooses the device first: more than one Lumaris device and
// no --device lists them and writes nothing.
// `run` is the record the recorder keeps (ReportInstall).
int RunWithRetries(const ConsoleOptions& options, RunContext& context, const RunRecord& run);

// A failure that another attempt may mend: the device did not answer, or
// answered short, or its reply could not be read, or it left the bus. Never
// a refused image, a question answered, a stop request or a wrong checksum.
bool Retryable(const RunResult& result, const RunRecord& run, const RunRequest& asked);
