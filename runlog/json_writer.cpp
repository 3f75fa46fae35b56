#include "runlog/json_writer.h"

#include <cstdio>

#include "job/update_job.h"
#include "platform/seams.h"
#include "runlog/json.h"
#include "runlog/text.h"

namespace {

uint32_t NoTime() { return 0; }
const RunRecord NO_RECORD;
const RunContext NO_CONTEXT;
JsonWriterSetup gSetup{{&NO_RECORD, &NO_CONTEXT, NoTime}};

const RunRecord& Run() { return *gSetup.inputs.run; }
const RunContext& Context() { return *gSetup.inputs.context; }

// Every line of a run carries its id, so that a reader tells the runs of
// stations that share one log apart.
JsonLine Event(const char* name) {
    JsonLine line = JsonEvent(name, gSetup.inputs.elapsedMs());
    if (!Context().runId.empty()) JsonAddString(line, "run_id", Context().runId);
    return line;
}

// The architecture the program was built for.
constexpr const char* BUILD_ARCHITECTURE =
#if defined(__x86_64__) || defined(_M_X64)
    "x64";
#elif defined(__i386__) || defined(_M_IX86)
    "x86";
#elif defined(__aarch64__)
    "arm64";
#else
    "other";
#endif

// A `progress` line may be left off the screen when it is not read in time
// (console/system/console_output.h); the log holds every line.
void Emit(JsonLine& line, bool progress = false) {
    JsonClose(line);
    // The log first: a line seen on the screen is in the log already.
    if (gSetup.log) gSetup.log(line.text, progress);
    if (gSetup.screen) gSetup.screen(line.text, progress);
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

void JsonAddResultFields(JsonLine& line, RunCommand command, const RunResult& result, const RunRecord& run) {
    const RunContext& context = Context();
    JsonAddString(line, "command", RunCommandName(command));
    JsonAddString(line, "outcome", result.outcome);
    JsonAddNumber(line, "exit_code", result.exitCode);
    JsonAddNumber(line, "pages_total", run.pagesTotal);
    JsonAddNumber(line, "pages_programmed", run.pagesWritten);
    JsonAddNumber(line, "pages_verified", run.pagesVerified);
    JsonAddBool(line, "signature_confirmed", run.signatureConfirmed);
    JsonAddBool(line, "run_sent", run.runSent);
    JsonAddString(line, "device_state", result.deviceState);
    if (run.deviceIndexKnown && command != RunCommand::List) {
        JsonAddNumber(line, "device_index", run.deviceIndex);
    } else {
        JsonAddNull(line, "device_index");
    }
    // The unit as the first attempt found it, kept through retries.
    if (run.firstIdentified) {
        JsonAddString(line, "device_type", HexByte(run.firstType));
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
    const ExchangeFailure* first = context.earlierFailure ? &context.firstFailure
                                   : run.failures         ? &run.failure
                                                          : nullptr;
    if (first) {
        JsonLine failure = JsonObject();
        JsonAddFailureFields(failure, *first);
        JsonAddObject(line, "failure", failure);
    } else {
        JsonAddNull(line, "failure");
    }
    JsonAddNumber(line, "elapsed_ms", gSetup.inputs.elapsedMs());
    JsonAddString(line, "message", result.line);
    JsonAddString(line, "next", NextStepName(result.next));
}

void EmitBare(const char* name) {
    JsonLine line = Event(name);
    Emit(line);
}

// One case per event and no generic one: an event left out here fails to
// compile, so that the log never misses an event unnoticed.
void OnEvent(const UpdateEvent& event) {
    std::visit(EventHandlers{
                   [](const DeviceFound& e) {
                       JsonLine line = Event("device_found");
                       JsonAddNumber(line, "index", e.index);
                       JsonAddString(line, "kind", KindName(e.kind));
                       if (e.id) {
                           JsonAddId(line, "id", e.id, e.length);
                       } else {
                           JsonAddNull(line, "id");
                       }
                       Emit(line);
                   },
                   [](const DeviceCountFailed&) { EmitBare("device_count_failed"); },
                   [](const RestartRequested&) { EmitBare("restart_requested"); },
                   [](const SwitchedDeviceMissing& e) {
                       JsonLine line = Event("switched_device_missing");
                       JsonAddNumber(line, "devices_before", e.before);
                       JsonAddNumber(line, "devices_now", e.now);
                       Emit(line);
                   },
                   [](const RestartAwaited& e) {
                       JsonLine line = Event("restart_awaited");
                       JsonAddNumber(line, "waited_ms", e.waitedMs);
                       JsonAddString(line, "end", RestartEndName(e.end));
                       Emit(line);
                   },
                   [](const DeviceIdentified& e) {
                       JsonLine line = Event("device_identified");
                       JsonAddString(line, "device_type", HexByte(e.deviceType));
                       JsonAddString(line, "installed_version", FormatVersion(e.verHi, e.verLo));
                       JsonAddBool(line, "signature_valid", Run().installedValid);
                       Emit(line);
                   },
                   [](const ImagePrepared& e) {
                       JsonLine line = Event("image_prepared");
                       JsonAddBool(line, "loaded", e.loaded);
                       JsonAddBool(line, "accepted", e.accepted);
                       JsonAddString(line, "image_type", HexByte(e.imageType));
                       JsonAddString(line, "image_version", FormatVersion(e.verHi, e.verLo));
                       JsonAddNumber(line, "pages", e.pages);
                       Emit(line);
                   },
                   [](const QuestionAsked& e) {
                       JsonLine line = Event("question_asked");
                       JsonAddString(line, "question", QuestionName(e.question));
                       Emit(line);
                   },
                   [](const QuestionAnswered& e) {
                       JsonLine line = Event("question_answered");
                       JsonAddString(line, "question", QuestionName(e.question));
                       JsonAddString(line, "answer", e.yes ? "yes" : "no");
                       Emit(line);
                   },
                   [](const ProgrammingStarted& e) {
                       JsonLine line = Event("programming_started");
                       JsonAddNumber(line, "pages", e.pages);
                       Emit(line);
                   },
                   [](const PageProgrammed& e) {
                       JsonLine line = Event("page_programmed");
                       JsonAddNumber(line, "page", e.page);
                       JsonAddNumber(line, "index", e.index);
                       JsonAddNumber(line, "total", e.total);
                       JsonAddBool(line, "written", e.written);
                       JsonAddBool(line, "verified", e.verified);
                       Emit(line, true);
                   },
                   [](const SignatureWritten& e) {
                       JsonLine line = Event("signature_written");
                       JsonAddBool(line, "acknowledged", e.acknowledged);
                       Emit(line);
                   },
                   [](const SignatureConfirmed& e) {
                       JsonLine line = Event("signature_confirmed");
                       JsonAddBool(line, "valid", e.valid);
                       char text[8];
                       std::snprintf(text, sizeof text, "0x%04X", unsigned{e.signature});
                       JsonAddString(line, "signature", text);
                       Emit(line);
                   },
                   [](const RunSent& e) {
                       JsonLine line = Event("run_sent");
                       JsonAddBool(line, "written", e.written);
                       Emit(line);
                   },
                   [](const ExchangeFailed& e) {
                       JsonLine line = Event("failure");
                       JsonAddFailureFields(line, e.failure);
                       Emit(line);
                   },
                   [](const BusChanged& e) {
                       JsonLine line = Event("bus_changed");
                       JsonAddString(line, "phase", BusPhaseName(e.phase));
                       JsonAddString(line, "change", BusChangeName(e.change));
                       JsonAddNumber(line, "devices_before", e.devicesBefore);
                       JsonAddNumber(line, "devices_now", e.devicesNow);
                       Emit(line);
                   },
                   [](const BootloaderWaiting& e) {
                       JsonLine line = Event("bootloader_waiting");
                       JsonAddNumber(line, "index", e.index);
                       Emit(line);
                   },
                   [](const AlreadyCurrent&) { EmitBare("already_current"); },
                   [](const CheckFinished& e) {
                       JsonLine line = Event("check_verdict");
                       JsonAddString(line, "verdict", VerdictName(e.verdict));
                       Emit(line);
                   },
                   [](const RunStopped& e) {
                       JsonLine line = Event("stopped");
                       JsonAddBool(line, "flash_open", e.flashOpen);
                       Emit(line);
                   },
                   [](const Finished& e) {
                       JsonLine line = Event("finished");
                       JsonAddBool(line, "device_ready", e.deviceReady);
                       Emit(line);
                   },
               },
               event);
}

const char* AnswerName(int answer) {
    switch (answer) {
        case ANSWER_OK: return "ok";
        case ANSWER_YES: return "yes";
        case ANSWER_NO: return "no";
        default: return "none";
    }
}

void Box(const BoxShown& box) {
    if (!gSetup.raw) return;
    JsonLine line = Event("box");
    JsonAddWide(line, "text", box.text, box.textLength);
    JsonAddWide(line, "caption", box.caption, box.captionLength);
    JsonAddNumber(line, "style", box.style);
    JsonAddString(line, "answer", AnswerName(box.answer));
    JsonAddNumber(line, "count", box.count);
    Emit(line);
}

void Text(int x, int y, const wchar_t* text, size_t length) {
    if (!gSetup.raw) return;
    JsonLine line = Event("text");
    JsonAddNumber(line, "x", x);
    JsonAddNumber(line, "y", y);
    JsonAddWide(line, "text", text, length);
    Emit(line);
}

void LoaderLine(const char* text) {
    if (!gSetup.raw) return;
    JsonLine line = Event("loader_output");
    JsonAddString(line, "text", text);
    Emit(line);
}

void Packet(bool sent, const std::string& hex) {
    JsonLine line = Event(sent ? "packet_sent" : "reply_read");
    JsonAddString(line, "bytes", hex);
    Emit(line, true);
}

void StopDeferred(uint32_t pagesLeft) {
    JsonLine line = Event("stop_deferred");
    JsonAddNumber(line, "pages_left", pagesLeft);
    Emit(line);
}

void Result(RunCommand command, const RunResult& result) {
    JsonLine line = Event("result");
    JsonAddResultFields(line, command, result, Run());
    Emit(line);
}

void Failure(RunCommand command, const RunResult& result) {
    JsonLine line = Event("result");
    JsonAddResultFields(line, command, result, NO_RECORD);
    Emit(line);
}

void WaitingForDevice(uint32_t device, uint32_t seconds) {
    JsonLine line = Event("waiting_for_device");
    if (device == ANY_DEVICE) {
        JsonAddNull(line, "device");
    } else {
        JsonAddNumber(line, "device", device);
    }
    if (seconds) {
        JsonAddNumber(line, "seconds", seconds);
    } else {
        JsonAddNull(line, "seconds");
    }
    Emit(line);
}

void Attempt(uint32_t attempt, uint32_t attempts, const RunResult& after) {
    JsonLine line = Event("attempt");
    JsonAddNumber(line, "attempt", attempt);
    JsonAddNumber(line, "of", attempts);
    JsonAddString(line, "after", after.outcome);
    JsonAddString(line, "cause", Run().failures ? FaultName(Run().failure.fault) : "none");
    Emit(line);
}

}  // namespace

const RunWriter JSON_WRITER = {
    .event = OnEvent,
    .box = Box,
    .text = Text,
    .loaderLine = LoaderLine,
    .packet = Packet,
    .stopDeferred = StopDeferred,
    .result = Result,
    .failure = Failure,
    .waitingForDevice = WaitingForDevice,
    .attempt = Attempt,
};

void JsonWriterStart(const JsonWriterSetup& setup) { gSetup = setup; }

void JsonWriteRunStarted(const char* const* options, int count) {
    const RunContext& context = Context();
    JsonLine line = Event("run_started");
    JsonAddString(line, "utc", UtcNow());
    JsonAddString(line, "program", context.program);
    JsonAddString(line, "program_version", context.programVersion);
    JsonAddString(line, "image_version", context.imageVersion);
    JsonAddString(line, "image_sha256", context.imageSha256);
    std::string list = "[";
    std::string listHex = "[";
    bool notUtf8 = false;
    for (int i = 0; i < count; ++i) {
        JsonLine item = JsonObject();
        JsonAddText(item, "o", options[i]);
        // The value part of {"o":"..."} and, for bytes that are not UTF-8,
        // of its "o_hex":"...".
        const size_t hex = item.text.find(",\"o_hex\":");
        if (i > 0) list += ',', listHex += ',';
        list.append(item.text, 5, hex == std::string::npos ? std::string::npos : hex - 5);
        listHex += hex == std::string::npos ? "null" : item.text.substr(hex + 9);
        notUtf8 = notUtf8 || hex != std::string::npos;
    }
    JsonAddRaw(line, "options", list + "]");
    if (notUtf8) JsonAddRaw(line, "options_hex", listHex + "]");
    if (context.label) {
        JsonAddText(line, "label", context.label);
    } else {
        JsonAddNull(line, "label");
    }
    if (context.host.empty()) {
        JsonAddNull(line, "host");
    } else {
        JsonAddString(line, "host", context.host);
    }
    JsonAddString(line, "arch", BUILD_ARCHITECTURE);
    if (context.usbLibrary.empty()) {
        JsonAddNull(line, "usb_library");
        JsonAddString(line, "usb_library_problem", context.usbLibraryProblem);
    } else {
        JsonAddString(line, "usb_library", context.usbLibrary);
    }
    JsonClose(line);
    if (gSetup.log) gSetup.log(line.text, false);
}
