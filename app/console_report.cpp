#include "console_report.h"

#include <chrono>
#include <cstring>
#include <cwchar>

#include "bootloader/commands.h"
#include "console_json.h"
#include "platform/seams.h"

namespace {

ReportSettings gSettings{};
RunRecord gRun;
std::chrono::steady_clock::time_point gStart;
bool gProgressOpen = false;  // a progress bar waits for its line end
uint32_t gLastTenth = 0;

const char* KindName(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::Application: return "application";
        case DeviceKind::Bootloader: return "bootloader";
        case DeviceKind::Unknown: return "unknown";
        case DeviceKind::Unreadable: return "unreadable";
    }
    return "unknown";
}

const char* QuestionName(VersionQuestion question) {
    switch (question) {
        case VersionQuestion::None: return "none";
        case VersionQuestion::UnversionedImage: return "unversioned-image";
        case VersionQuestion::OlderImage: return "older-image";
    }
    return "none";
}

const char* VerdictName(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Program: return "program";
        case CheckVerdict::AskUnversioned: return "ask-unversioned-image";
        case CheckVerdict::AskOlder: return "ask-older-image";
        case CheckVerdict::Refuse: return "refuse";
    }
    return "refuse";
}

// An identification string for a human: printable ASCII as it is, other
// bytes as \xNN.
std::string Printable(const uint8_t* bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\' && bytes[i] != '"') {
            out += static_cast<char>(bytes[i]);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned{bytes[i]});
            out += escape;
        }
    }
    return out;
}

std::string Narrow(const wchar_t* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += (text[i] >= 0x20 && text[i] < 0x7F) ? static_cast<char>(text[i]) : '?';
    return out;
}

size_t WideLength(const wchar_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

bool Normal() { return !gSettings.json && gSettings.verbosity != ConsoleVerbosity::Quiet; }
bool Verbose() { return gSettings.verbosity == ConsoleVerbosity::Verbose; }

void EndProgress() {
    if (!gProgressOpen) return;
    std::fputc('\n', stdout);
    gProgressOpen = false;
}

// One line of human output (not in quiet mode).
void Say(const std::string& line) {
    if (!Normal()) return;
    EndProgress();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

JsonLine Event(const char* name) { return JsonEvent(name, ReportElapsedMs()); }
void Emit(JsonLine& line) { JsonWrite(line, stdout); }

std::string Seconds() {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ReportElapsedMs()) / 1000.0);
    return text;
}

// ---------------------------------------------------------------- gUi

int AskTerminal() {
    std::FILE* prompt = gSettings.json ? stderr : stdout;
    EndProgress();
    std::fputs("answer [y/N]: ", prompt);
    std::fflush(prompt);
    int c = std::getchar();
    while (c == ' ' || c == '\t') c = std::getchar();
    const bool yes = c == 'y' || c == 'Y';
    while (c != '\n' && c != EOF) c = std::getchar();
    return yes ? ANSWER_YES : ANSWER_NO;
}

const char* AnswerName(int answer) {
    switch (answer) {
        case ANSWER_OK: return "ok";
        case ANSWER_YES: return "yes";
        case ANSWER_NO: return "no";
        default: return "none";
    }
}

int ReportBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    const bool question = (style & 0x0F) == BOX_YESNO;
    const size_t textLength = WideLength(text);
    const bool error = !question && textLength == 5 && std::wcsncmp(text, L"Error", 5) == 0;
    gRun.errorBoxes += error;
    int answer = ANSWER_OK;
    const char* from = "";
    if (question) {
        switch (gSettings.answers) {
            case ConsoleAnswerMode::Yes:
                answer = ANSWER_YES;
                from = " (--yes)";
                break;
            case ConsoleAnswerMode::No:
                answer = ANSWER_NO;
                from = " (--no)";
                break;
            case ConsoleAnswerMode::Unset:
                if (gSettings.stdinIsTerminal) {
                    answer = AskTerminal();
                } else {
                    answer = ANSWER_NO;
                    from = " (no terminal to ask)";
                }
                break;
        }
    }
    if (gSettings.json) {
        JsonLine line = Event("box");
        JsonAddWide(line, "text", text, textLength);
        JsonAddWide(line, "caption", caption, WideLength(caption));
        JsonAddNumber(line, "style", style);
        JsonAddString(line, "answer", AnswerName(answer));
        Emit(line);
    } else if (error && gSettings.verbosity == ConsoleVerbosity::Quiet) {
        std::fprintf(stderr, "box \"Error\"\n");
    } else {
        std::string line =
            "box \"" + Narrow(text, textLength) + "\" caption \"" + Narrow(caption, WideLength(caption)) + "\"";
        if (question) line += std::string(": answered ") + AnswerName(answer) + from;
        Say(line);
    }
    return answer;
}

void ReportText(int x, int y, const wchar_t* text, int count) {
    const size_t length = count > 0 ? static_cast<size_t>(count) : 0;
    if (gSettings.json) {
        JsonLine line = Event("text");
        JsonAddNumber(line, "x", x);
        JsonAddNumber(line, "y", y);
        JsonAddWide(line, "text", text, length);
        Emit(line);
    } else if (Verbose()) {
        Say("window text (" + std::to_string(x) + "," + std::to_string(y) + ") \"" + Narrow(text, length) + "\"");
    }
}

void ReportLoaderLine(const char* text) {
    if (gSettings.json) {
        JsonLine line = Event("loader_output");
        JsonAddString(line, "text", text);
        Emit(line);
    } else if (Verbose()) {
        Say(std::string("loader: ") + text);
    }
}

// ---------------------------------------------------------------- gEvents

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    if (!gRun.deviceFound) {
        gRun.deviceFound = true;
        gRun.firstKind = kind;
        gRun.firstId = Printable(id, length);
    }
    ++gRun.devicesListed;
    if (gSettings.json) {
        JsonLine line = Event("device_found");
        JsonAddNumber(line, "index", index);
        JsonAddString(line, "kind", KindName(kind));
        if (id) {
            JsonAddBytes(line, "id", id, length);
        } else {
            JsonAddNull(line, "id");
        }
        Emit(line);
    } else {
        std::string line = "device " + std::to_string(index) + ": ";
        if (id) {
            line += '"';
            line += Printable(id, length);
            line += '"';
        } else {
            line += "(identification not readable)";
        }
        line += " (";
        line += KindName(kind);
        line += ')';
        Say(line);
    }
}

void OnRestartRequested() {
    gRun.restartRequested = true;
    if (gSettings.json) {
        JsonLine line = Event("restart_requested");
        Emit(line);
    } else {
        Say("asked the device to restart into its bootloader");
    }
}

void OnRestartAwaited(uint32_t waitedMs, RestartWaitEnd end) {
    gRun.restartAwaited = true;
    gRun.restartEnd = end;
    gRun.restartWaitedMs = waitedMs;
    if (gSettings.json) {
        JsonLine line = Event("restart_awaited");
        JsonAddNumber(line, "waited_ms", waitedMs);
        JsonAddString(line, "end",
                      end == RestartWaitEnd::Waited           ? "waited"
                      : end == RestartWaitEnd::BootloaderSeen ? "bootloader-seen"
                                                              : "timed-out");
        Emit(line);
        return;
    }
    switch (end) {
        case RestartWaitEnd::Waited: Say("waited " + std::to_string(waitedMs) + " ms for the restart"); break;
        case RestartWaitEnd::BootloaderSeen: Say("bootloader there after " + std::to_string(waitedMs) + " ms"); break;
        case RestartWaitEnd::TimedOut: Say("no bootloader after " + std::to_string(waitedMs) + " ms"); break;
    }
}

void OnDeviceIdentified(uint8_t type, uint8_t verHi, uint8_t verLo, uint16_t signature) {
    gRun.identified = true;
    gRun.deviceType = type;
    gRun.installedHi = verHi;
    gRun.installedLo = verLo;
    gRun.installedValid = signature == APP_SIGNATURE;
    if (gSettings.json) {
        JsonLine line = Event("device_identified");
        JsonAddString(line, "device_type", FormatByte(type));
        JsonAddString(line, "installed_version", FormatVersion(verHi, verLo));
        JsonAddBool(line, "signature_valid", gRun.installedValid);
        Emit(line);
    } else {
        Say("device type " + FormatByte(type) + ", firmware " + FormatVersion(verHi, verLo) + " installed, application " +
            (gRun.installedValid ? "signature valid" : "signature not valid"));
    }
}

void OnImagePrepared(bool loaded, bool accepted, uint8_t type, uint8_t verHi, uint8_t verLo, uint32_t pages) {
    gRun.imagePrepared = true;
    gRun.imageLoaded = loaded;
    gRun.imageAccepted = accepted;
    gRun.imageType = type;
    gRun.imageHi = verHi;
    gRun.imageLo = verLo;
    gRun.imagePages = pages;
    if (gSettings.json) {
        JsonLine line = Event("image_prepared");
        JsonAddBool(line, "loaded", loaded);
        JsonAddBool(line, "accepted", accepted);
        JsonAddString(line, "image_type", FormatByte(type));
        JsonAddString(line, "image_version", FormatVersion(verHi, verLo));
        JsonAddNumber(line, "pages", pages);
        Emit(line);
    } else if (!loaded) {
        Say("image: the built-in image does not load");
    } else {
        Say("image: device type " + FormatByte(type) + ", firmware " + FormatVersion(verHi, verLo) + ", " +
            std::to_string(pages) + " pages" + (accepted ? "" : ": refused for this device"));
    }
}

void OnQuestionAsked(VersionQuestion question) {
    gRun.question = question;
    if (gSettings.json) {
        JsonLine line = Event("question_asked");
        JsonAddString(line, "question", QuestionName(question));
        Emit(line);
    } else if (question == VersionQuestion::OlderImage) {
        Say("question: the image (firmware " + FormatVersion(gRun.imageHi, gRun.imageLo) +
            ") is older than the installed firmware " + FormatVersion(gRun.installedHi, gRun.installedLo) +
            "; program it?");
    } else {
        Say("question: the image has no version; program it?");
    }
}

void OnQuestionAnswered(VersionQuestion question, bool yes) {
    gRun.answered = true;
    gRun.answeredYes = yes;
    if (gSettings.json) {
        JsonLine line = Event("question_answered");
        JsonAddString(line, "question", QuestionName(question));
        JsonAddString(line, "answer", yes ? "yes" : "no");
        Emit(line);
    }
}

void OnProgrammingStarted(uint32_t pages) {
    gRun.programmingStarted = true;
    gRun.pagesTotal = pages;
    gLastTenth = 0;
    if (gSettings.json) {
        JsonLine line = Event("programming_started");
        JsonAddNumber(line, "pages", pages);
        Emit(line);
    } else {
        Say("programming " + std::to_string(pages) + " pages");
    }
}

void ShowProgress(uint32_t index, uint32_t total) {
    if (!Normal() || total == 0) return;
    const unsigned percent = static_cast<unsigned>(uint64_t{index} * 100 / total);
    if (gSettings.stdoutIsTerminal) {
        constexpr unsigned WIDTH = 30;
        const auto filled = static_cast<unsigned>(uint64_t{index} * WIDTH / total);
        std::string bar(filled, '#');
        bar.append(WIDTH - filled, '.');
        std::printf("\r[%s] page %u of %u %3u%% %s ", bar.c_str(), index, total, percent, Seconds().c_str());
        std::fflush(stdout);
        gProgressOpen = true;
        if (index == total) EndProgress();
        return;
    }
    // Not a terminal: a line at every tenth of the pages.
    const auto tenth = static_cast<uint32_t>(uint64_t{index} * 10 / total);
    if (tenth == gLastTenth) return;
    gLastTenth = tenth;
    Say("page " + std::to_string(index) + " of " + std::to_string(total) + " (" + std::to_string(percent) + "%), " +
        Seconds());
}

void OnPageProgrammed(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified) {
    gRun.pagesWritten += written;
    gRun.pagesVerified += verified;
    if (gSettings.json) {
        JsonLine line = Event("page_programmed");
        JsonAddNumber(line, "page", page);
        JsonAddNumber(line, "index", index);
        JsonAddNumber(line, "total", total);
        JsonAddBool(line, "written", written);
        JsonAddBool(line, "verified", verified);
        Emit(line);
        return;
    }
    if (!verified) {
        Say("page " + std::to_string(page) + " (" + std::to_string(index) + " of " + std::to_string(total) + ") " +
            (written ? "does not match the image" : "was not written"));
        return;
    }
    ShowProgress(index, total);
}

void OnSignatureWritten(bool acknowledged) {
    gRun.signatureWritten = acknowledged;
    if (gSettings.json) {
        JsonLine line = Event("signature_written");
        JsonAddBool(line, "acknowledged", acknowledged);
        Emit(line);
    } else if (!acknowledged) {
        Say("the signature write was not acknowledged");
    }
}

void OnSignatureConfirmed(bool valid, uint16_t signature) {
    gRun.signatureConfirmed = valid;
    if (gSettings.json) {
        JsonLine line = Event("signature_confirmed");
        JsonAddBool(line, "valid", valid);
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", unsigned{signature});
        JsonAddString(line, "signature", text);
        Emit(line);
    } else {
        Say(valid ? "signature written and read back" : "the signature read back is not valid");
    }
}

void OnRunSent(bool written) {
    gRun.runSent = written;
    if (gSettings.json) {
        JsonLine line = Event("run_sent");
        JsonAddBool(line, "written", written);
        Emit(line);
    } else {
        Say(written ? "run command sent" : "the run command could not be sent");
    }
}

void OnCheckVerdict(CheckVerdict verdict) {
    gRun.verdictSeen = true;
    gRun.verdict = verdict;
    if (gSettings.json) {
        JsonLine line = Event("check_verdict");
        JsonAddString(line, "verdict", VerdictName(verdict));
        Emit(line);
    }
}

void OnFinished(bool deviceReady) {
    gRun.finished = true;
    gRun.deviceReady = deviceReady;
    if (gSettings.json) {
        JsonLine line = Event("finished");
        JsonAddBool(line, "device_ready", deviceReady);
        Emit(line);
    }
}

const UpdateEvents REPORT_EVENTS = {OnDeviceFound,    OnRestartRequested, OnRestartAwaited,     OnDeviceIdentified,
                                    OnImagePrepared,  OnQuestionAsked,    OnQuestionAnswered,   OnProgrammingStarted,
                                    OnPageProgrammed, OnSignatureWritten, OnSignatureConfirmed, OnRunSent,
                                    OnCheckVerdict,   OnFinished};

}  // namespace

void ReportInstall(const ReportSettings& settings) {
    gSettings = settings;
    gRun = RunRecord{};
    gStart = std::chrono::steady_clock::now();
    gUi = UiSeam{ReportBox, ReportText};
    gEvents = REPORT_EVENTS;
    gOutput = OutputSeam{ReportLoaderLine};
}

const RunRecord& ReportedRun() { return gRun; }

uint32_t ReportElapsedMs() {
    const auto elapsed = std::chrono::steady_clock::now() - gStart;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length) {
    if (!Verbose()) return;
    std::string hex;
    for (uint32_t i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", unsigned{bytes[i]});
        hex += pair;
    }
    if (gSettings.json) {
        JsonLine line = Event(sent ? "packet_sent" : "reply_read");
        JsonAddString(line, "bytes", hex);
        Emit(line);
    } else {
        Say(std::string(sent ? "  > " : "  < ") + hex);
    }
}

void ReportResult(ConsoleCommand command, const ConsoleResult& result) {
    EndProgress();
    if (!gSettings.json) {
        std::fputs(result.line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        return;
    }
    const RunRecord& run = gRun;
    JsonLine line = Event("result");
    JsonAddString(line, "command",
                  command == ConsoleCommand::Check  ? "check"
                  : command == ConsoleCommand::List ? "list"
                                                    : "update");
    JsonAddString(line, "outcome", result.outcome);
    JsonAddNumber(line, "exit_code", result.exitCode);
    JsonAddNumber(line, "pages_total", run.pagesTotal);
    JsonAddNumber(line, "pages_programmed", run.pagesWritten);
    JsonAddNumber(line, "pages_verified", run.pagesVerified);
    JsonAddBool(line, "signature_confirmed", run.signatureConfirmed);
    JsonAddBool(line, "run_sent", run.runSent);
    JsonAddString(line, "device_state", result.deviceState);
    if (run.identified) {
        JsonAddString(line, "device_type", FormatByte(run.deviceType));
        JsonAddString(line, "installed_version", FormatVersion(run.installedHi, run.installedLo));
    } else {
        JsonAddNull(line, "device_type");
        JsonAddNull(line, "installed_version");
    }
    if (run.imagePrepared && run.imageLoaded) {
        JsonAddString(line, "image_version", FormatVersion(run.imageHi, run.imageLo));
    } else {
        JsonAddNull(line, "image_version");
    }
    JsonAddNumber(line, "elapsed_ms", ReportElapsedMs());
    JsonAddString(line, "message", result.line);
    Emit(line);
}

void ReportFailure(ConsoleCommand command, const char* outcome, const std::string& message) {
    EndProgress();
    std::fprintf(stderr, "lumaris-update: %s\n", message.c_str());
    if (!gSettings.json) return;
    JsonLine line = Event("result");
    JsonAddString(line, "command",
                  command == ConsoleCommand::Check  ? "check"
                  : command == ConsoleCommand::List ? "list"
                                                    : "update");
    JsonAddString(line, "outcome", outcome);
    JsonAddNumber(line, "exit_code", 1);
    JsonAddNumber(line, "pages_total", 0);
    JsonAddNumber(line, "pages_programmed", 0);
    JsonAddNumber(line, "pages_verified", 0);
    JsonAddBool(line, "signature_confirmed", false);
    JsonAddBool(line, "run_sent", false);
    JsonAddString(line, "device_state", "unknown");
    JsonAddNull(line, "device_type");
    JsonAddNull(line, "installed_version");
    JsonAddNull(line, "image_version");
    JsonAddNumber(line, "elapsed_ms", ReportElapsedMs());
    JsonAddString(line, "message", message);
    Emit(line);
}

void ReportLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
