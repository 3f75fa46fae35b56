#include "console/json_result.h"

#include "console/report.h"
#include "console/run_log.h"
#include "console/text.h"

const char* ConsoleCommandName(ConsoleCommand command) {
    return command == ConsoleCommand::Check ? "check" : command == ConsoleCommand::List ? "list" : "update";
}

void JsonAddFailureFields(JsonLine& line, const ExchangeFailure& failure) {
    JsonAddString(line, "command", CommandName(failure.command));
    if (failure.page == NO_PAGE) {
        JsonAddNull(line, "page");
    } else {
        JsonAddNumber(line, "page", failure.page);
    }
    if (failure.pageIndex > 0) {
        JsonAddNumber(line, "page_index", failure.pageIndex);
    } else {
        JsonAddNull(line, "page_index");
    }
    JsonAddString(line, "cause", FaultName(failure.fault));
    switch (failure.fault) {
        case ExchangeFault::NoReply: JsonAddNumber(line, "window_ms", failure.detail); break;
        case ExchangeFault::BadReply: JsonAddString(line, "byte", HexByte(failure.detail)); break;
        case ExchangeFault::ChecksumMismatch:
            JsonAddString(line, "expected", HexWord(failure.expected));
            JsonAddString(line, "read", HexWord(failure.detail));
            break;
        default: break;
    }
}

void JsonAddResultFields(JsonLine& line, ConsoleCommand command, const ConsoleResult& result, const RunRecord& run) {
    const RunContext& context = ReportContext();
    JsonAddString(line, "command", ConsoleCommandName(command));
    JsonAddString(line, "outcome", result.outcome);
    JsonAddNumber(line, "exit_code", result.exitCode);
    JsonAddNumber(line, "pages_total", run.pagesTotal);
    JsonAddNumber(line, "pages_programmed", run.pagesWritten);
    JsonAddNumber(line, "pages_verified", run.pagesVerified);
    JsonAddBool(line, "signature_confirmed", run.signatureConfirmed);
    JsonAddBool(line, "run_sent", run.runSent);
    JsonAddString(line, "device_state", result.deviceState);
    if (run.deviceIndexKnown && command != ConsoleCommand::List) {
        JsonAddNumber(line, "device_index", run.deviceIndex);
    } else {
        JsonAddNull(line, "device_index");
    }
    // The unit as the first attempt found it, kept through retries.
    if (run.firstIdentified) {
        JsonAddString(line, "device_type", FormatByte(run.firstType));
        JsonAddString(line, "installed_version", FormatVersion(run.firstHi, run.firstLo));
    } else {
        JsonAddNull(line, "device_type");
        JsonAddNull(line, "installed_version");
    }
    if (run.imagePrepared && run.imageLoaded) {
        JsonAddString(line, "image_version", FormatVersion(run.imageHi, run.imageLo));
    } else {
        JsonAddNull(line, "image_version");
    }
    JsonAddString(line, "image_sha256", context.imageSha256);
    JsonAddString(line, "program_version", context.programVersion);
    JsonAddString(line, "utc", UtcNow());
    if (context.label) {
        JsonAddText(line, "label", context.label);
    } else {
        JsonAddNull(line, "label");
    }
    JsonAddNumber(line, "attempts", context.attempt);
    if (run.failures) {
        JsonLine failure = JsonObject();
        JsonAddFailureFields(failure, run.failure);
        JsonAddObject(line, "failure", failure);
    } else {
        JsonAddNull(line, "failure");
    }
    JsonAddNumber(line, "elapsed_ms", ReportElapsedMs());
    JsonAddString(line, "message", result.line);
}

void JsonWriteRunStarted(const RunContext& context, int argc, char** argv) {
    JsonLine line = JsonEvent("run_started", ReportElapsedMs());
    JsonAddString(line, "utc", UtcNow());
    JsonAddString(line, "program_version", context.programVersion);
    JsonAddString(line, "image_version", context.imageVersion);
    JsonAddString(line, "image_sha256", context.imageSha256);
    std::string options = "[";
    std::string optionsHex = "[";
    bool notUtf8 = false;
    for (int i = 1; i < argc; ++i) {
        JsonLine item = JsonObject();
        JsonAddText(item, "o", argv[i]);
        // The value part of {"o":"..."} and, for bytes that are not UTF-8,
        // of its "o_hex":"...".
        const size_t hex = item.text.find(",\"o_hex\":");
        if (i > 1) options += ',', optionsHex += ',';
        options.append(item.text, 5, hex == std::string::npos ? std::string::npos : hex - 5);
        optionsHex += hex == std::string::npos ? "null" : item.text.substr(hex + 9);
        notUtf8 = notUtf8 || hex != std::string::npos;
    }
    JsonAddRaw(line, "options", options + "]");
    if (notUtf8) JsonAddRaw(line, "options_hex", optionsHex + "]");
    if (context.label) {
        JsonAddText(line, "label", context.label);
    } else {
        JsonAddNull(line, "label");
    }
    JsonClose(line);
    RunLogPut(line.text);
}
