// The parts of JSON lines that more than one object carries: a failed
// exchange, and the fields of the result object.
#pragma once

#include "console/json.h"
#include "console/options.h"
#include "console/result.h"
#include "console/run_record.h"
#include "console/writer.h"

// "update", "check" or "list".
const char* ConsoleCommandName(ConsoleCommand command);
// command, page, page_index, cause and the cause's values.
void JsonAddFailureFields(JsonLine& line, const ExchangeFailure& failure);
// Every field of the result object after its event and time, in order.
void JsonAddResultFields(JsonLine& line, ConsoleCommand command, const ConsoleResult& result, const RunRecord& run);
// The first line of a run in the log: UTC time, program and image version,
// the image's SHA-256, the command line's options and the label.
void JsonWriteRunStarted(const RunContext& context, int argc, char** argv);
