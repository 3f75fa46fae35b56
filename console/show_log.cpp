#include "console/show_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "console/log_line.h"
#include "console/next_step_words.h"
#include "console/system/console_output.h"
#include "console/system/console_platform.h"
#include "platform/log_file.h"
#include "platform/plain_text.h"
#include "runlog/json.h"
#include "runlog/next_step.h"
#include "runlog/outcome.h"
#include "runlog/text.h"

namespace {

// What the device holds in each state.
struct StateWords {
    const char* state;
    const char* holds;
};

constexpr StateWords STATE_WORDS[] = {
    {"runs-image", "runs the firmware of the image"},
    {"holds-image", "holds the new firmware but was not told to start it"},
    {"kept-application", "runs the firmware it had; nothing was written"},
    {"bootloader-application-kept", "keeps the firmware it had but waits in its bootloader"},
    {"no-valid-application", "holds no working firmware"},
    {"unchanged", "was not written to"},
    {"none", "no device was found"},
    {"unknown", "cannot be told"},
};

const char* Holds(const std::string& state) {
    for (const StateWords& words : STATE_WORDS)
        if (state == words.state) return words.holds;
    return "cannot be told";
}

bool FindOutcome(const std::string& text, Outcome* found) {
    for (size_t i = 0; i <= static_cast<size_t>(Outcome::ImageNotLoaded); ++i) {
        const Outcome outcome = static_cast<Outcome>(i);
        if (text == OutcomeText(outcome)) {
            *found = outcome;
            return true;
        }
    }
    return false;
}

bool FindState(const std::string& text, DeviceState* found) {
    for (size_t i = 0; i <= static_cast<size_t>(DeviceState::Unknown); ++i) {
        const DeviceState state = static_cast<DeviceState>(i);
        if (text == DeviceStateText(state)) {
            *found = state;
            return true;
        }
    }
    return false;
}

// The outcome in words: the outcome table's word and its exit code.
std::string OutcomeWords(const std::string& text, const std::string& exitCode) {
    Outcome outcome;
    if (FindOutcome(text, &outcome)) {
        const std::string code =
            exitCode.empty() ? std::to_string(static_cast<int>(OutcomeExitCode(outcome))) : PrintableText(exitCode);
        return text + " (exit " + code + ")";
    }
    return PrintableText(text) + (exitCode.empty() ? "" : " (exit " + PrintableText(exitCode) + ")");
}

// A failed exchange in words, from the keys under `prefix` ("" for a
// failure event, "failure." in a result).
std::string FailureCause(const LogLine& line, const std::string& prefix) {
    std::string words = PrintableText(line.Get(prefix + "command", "?"));
    const std::string page = line.Get(prefix + "page");
    if (!page.empty()) words += ", page " + PrintableText(page);
    words += ": " + PrintableText(line.Get(prefix + "cause", "?"));
    const std::string window = line.Get(prefix + "window_ms");
    if (!window.empty()) words += " (no reply within " + PrintableText(window) + " ms)";
    const std::string byte = line.Get(prefix + "byte");
    if (!byte.empty()) words += " (byte " + PrintableText(byte) + ")";
    return words;
}

std::string Field(const LogLine& line, const char* key, const char* fallback) {
    return PrintableText(line.Get(key, fallback));
}

// A label as the run gave it: from `label_hex` when its bytes are not UTF-8
// (each such byte then shows as \xNN), else from `label`.
std::string LabelOf(const LogLine& line) {
    const std::string hex = line.Get("label_hex");
    if (!hex.empty() && hex.size() % 2 == 0) {
        std::string bytes;
        for (size_t i = 0; i < hex.size(); i += 2) {
            const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
            if (high < 0 || low < 0) return PrintableText(line.Get("label"));
            bytes += static_cast<char>(high << 4 | low);
        }
        return PrintableText(bytes);
    }
    return PrintableText(line.Get("label"));
}

// One run as it is read: from its run_started to its result.
struct Run {
    std::string id;  // empty: a run of a log written without run ids
    std::string utc, program, programVersion, imageVersion, label, host, arch, library;
    std::string failure;        // the last failure event's cause in words
    std::string lastEvent;      // the last event read
    uint32_t pagesWritten = 0;  // page_programmed events
    uint32_t attemptsStarted = 1;
    std::string firstFailure;        // the cause that ended the first attempt
    bool deviceGone = false;         // a failure found the device gone
    bool lastAttemptFailed = false;  // a failure event since the last attempt began
    std::string deviceType, installed;

    void Start(const LogLine& started) {
        *this = Run();
        id = started.Get("run_id");
        utc = Field(started, "utc", "unknown time");
        program = started.Get("program", "console");
        programVersion = Field(started, "program_version", "unknown");
        imageVersion = Field(started, "image_version", "unknown");
        label = LabelOf(started);
        host = PrintableText(started.Get("host"));
        arch = PrintableText(started.Get("arch"));
        library = PrintableText(started.Get("usb_library"));
        lastEvent = "run_started";
    }
    void Event(const std::string& event, const LogLine& line) {
        lastEvent = PrintableText(event);
        if (event == "failure") {
            failure = FailureCause(line, "");
            deviceGone = line.Get("cause") == "device-gone";
            lastAttemptFailed = true;
        }
        if (event == "page_programmed") ++pagesWritten;
        if (event == "attempt") {
            ++attemptsStarted;
            if (firstFailure.empty()) firstFailure = failure;
            // Each attempt starts from discovery: what it writes is its own.
            pagesWritten = 0;
            deviceGone = false;
            lastAttemptFailed = false;
        }
        const std::string type = line.Get("device_type");
        if (!type.empty()) deviceType = PrintableText(type);
        const std::string version = line.Get("installed_version");
        if (!version.empty()) installed = PrintableText(version);
    }
    bool Window() const { return program == "window"; }
    std::string Head() const {
        std::string head = utc + "  " + PrintableText(program) + " program " + programVersion;
        if (!label.empty()) head += "  label " + label;
        head += '\n';
        if (!host.empty() || !arch.empty() || !library.empty()) {
            head += "  ran on: " + (host.empty() ? std::string("unknown host") : host);
            if (!arch.empty()) head += ", " + arch;
            if (!library.empty()) head += ", USB library " + library;
            head += '\n';
        }
        return head;
    }
};

std::string ShowResult(const Run& run, const LogLine& result) {
    const std::string state = result.Get("device_state", "unknown");
    const std::string before = Field(result, "installed_version", "unknown");
    std::string after = "unknown";
    if (state == "runs-image" || state == "holds-image") after = Field(result, "image_version", "unknown");
    if (state == "kept-application" || state == "bootloader-application-kept") after = before;
    if (state == "no-valid-application") after = "none";
    if (state == "unchanged" || state == "none") after = before;
    std::string text = run.Head();
    text += "  device " + Field(result, "device_type", "unknown") + ": firmware " + before + " before, " + after +
            " after (image " + PrintableText(result.Get("image_version", run.imageVersion)) + ")\n";
    // The window program ends with no exit code: its outcome alone.
    const std::string outcome = result.Get("outcome", "unknown");
    text += "  outcome: " + (run.Window() ? PrintableText(outcome) : OutcomeWords(outcome, result.Get("exit_code"))) +
            " - " + Field(result, "message", "") + '\n';
    // The result's failure is the run's first; the last attempt's own, if
    // any, came as a failure event.
    const std::string attempts = result.Get("attempts");
    const bool retried = !attempts.empty() && attempts != "1";
    const std::string first = result.Has("failure.cause") ? FailureCause(result, "failure.") : run.firstFailure;
    if (retried) {
        text += "  attempts: " + PrintableText(attempts);
        if (!first.empty()) text += " (the 1st failed: " + first + ")";
        text += '\n';
        if (run.lastAttemptFailed) text += "  cause: " + run.failure + '\n';
    } else if (!first.empty()) {
        text += "  cause: " + first + '\n';
    } else if (!run.failure.empty()) {
        text += "  cause: " + run.failure + '\n';
    }
    text += "  device now: " + PrintableText(state) + " (" + Holds(state) + ")\n";
    // The run's own step when it wrote one; else the table's, from what
    // the result says.
    NextStep step = NextStep::ReplugAndRunAgain;
    const std::string next = result.Get("next");
    if (next.empty() || !NextStepFromName(next.c_str(), &step)) {
        Outcome found = Outcome::Failed;
        DeviceState held = DeviceState::Unknown;
        const bool known = FindOutcome(outcome, &found);
        FindState(state, &held);
        const bool gone = result.Get("failure.cause") == "device-gone" || run.deviceGone;
        step = known ? NextStepFor(found, held, gone) : NextStep::ReplugAndRunAgain;
    }
    text += "  next: " + NextStepWords(step, run.Window()) + '\n';
    return text;
}

// A run without a result: the program was ended during it.
std::string ShowKilled(const Run& run) {
    std::string text = run.Head();
    text += "  device " + (run.deviceType.empty() ? std::string("unknown") : run.deviceType) + ": firmware " +
            (run.installed.empty() ? std::string("unknown") : run.installed) + " before, unknown after (image " +
            run.imageVersion + ")\n";
    text += "  outcome: killed - the run has no result: the program was ended during it (last event " + run.lastEvent +
            ")\n";
    if (!run.failure.empty()) text += "  cause: " + run.failure + '\n';
    if (run.pagesWritten > 0) {
        text += "  device now: no-valid-application (it was being written: " + std::to_string(run.pagesWritten) +
                " page(s) written)\n";
        const NextStep step = run.deviceGone ? NextStep::PlugInAndRunAgain : NextStep::RunAgainPluggedIn;
        text += "  next: " + NextStepWords(step, run.Window()) + '\n';
    } else {
        text += "  device now: unknown (nothing was written to it yet)\n";
        text += "  next: " + NextStepWords(NextStep::ReplugAndRunAgain, run.Window()) + '\n';
    }
    return text;
}

std::string KilledJson(const Run& run) {
    JsonLine line{"{\"event\":\"run_killed\""};
    if (!run.id.empty()) JsonAddString(line, "run_id", run.id);
    JsonAddString(line, "utc", run.utc);
    JsonAddString(line, "program", run.program);
    JsonAddString(line, "last_event", run.lastEvent);
    JsonAddNumber(line, "pages_programmed", run.pagesWritten);
    JsonClose(line);
    return line.text;
}

// The runs shown, with --last the last ones only.
struct Shown {
    uint32_t last;
    const ShowLogSink& out;
    std::deque<std::string> kept;
    uint32_t runs = 0;

    void Add(const std::string& text) {
        ++runs;
        if (last == 0) {
            out(text);
            return;
        }
        kept.push_back(text);
        if (kept.size() > last) kept.pop_front();
    }
    void Flush() {
        for (const std::string& text : kept) out(text);
        kept.clear();
    }
};

// Splits what the source gives into lines, each at most SHOW_LOG_MAX_LINE
// bytes; a longer one is passed over as it is read and reported as such.
class LineSplitter {
   public:
    explicit LineSplitter(const ShowLogSource& source) : source_(source) {}

    enum class Got { Line, TooLong, End, Failed };

    // The next line, without its line end (and a CR before it); `ended`
    // when the line had its line end.
    Got Next(std::string* line, bool* ended, std::string* error) {
        line->clear();
        bool tooLong = false;
        for (;;) {
            if (at_ == filled_) {
                if (eof_) break;
                size_t got = 0;
                if (!source_(buffer_, sizeof buffer_, &got, error)) return Got::Failed;
                at_ = 0;
                filled_ = got;
                if (got == 0) {
                    eof_ = true;
                    break;
                }
            }
            const char* start = buffer_ + at_;
            const size_t available = filled_ - at_;
            const void* newline = std::memchr(start, '\n', available);
            const size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : available;
            if (!tooLong && line->size() + take <= SHOW_LOG_MAX_LINE) {
                line->append(start, take);
            } else {
                tooLong = true;
                line->clear();
            }
            at_ += take;
            if (newline) {
                ++at_;
                *ended = true;
                if (tooLong) return Got::TooLong;
                if (!line->empty() && line->back() == '\r') line->pop_back();
                return Got::Line;
            }
        }
        *ended = false;
        if (tooLong) return Got::TooLong;
        return line->empty() ? Got::End : Got::Line;
    }

   private:
    const ShowLogSource& source_;
    char buffer_[64 * 1024];
    size_t at_ = 0, filled_ = 0;
    bool eof_ = false;
};

struct Reading {
    Reading(bool asJson, Shown& runs) : json(asJson), shown(runs) {}

    bool json;
    Shown& shown;
    uint32_t skipped = 0, tooLong = 0, killed = 0, withoutId = 0;
    bool cut = false;
    Run legacy;  // the open run of lines without a run id
    bool legacyOpen = false;
    std::vector<Run> open;  // runs with an id, oldest first

    void Killed(const Run& run) {
        ++killed;
        shown.Add(json ? KilledJson(run) : ShowKilled(run));
    }

    Run* Find(const std::string& id) {
        for (Run& run : open)
            if (run.id == id) return &run;
        return nullptr;
    }

    void Line(const LogLine& line) {
        const std::string event = line.Get("event");
        const std::string id = line.Get("run_id");
        if (id.empty()) {
            ++withoutId;
            ByOrder(event, line);
            return;
        }
        if (event == "run_started") {
            if (Run* again = Find(id)) {  // the same id twice: the first run never ended
                Killed(*again);
                open.erase(open.begin() + (again - open.data()));
            }
            if (open.size() >= SHOW_LOG_MAX_OPEN_RUNS) {
                Killed(open.front());
                open.erase(open.begin());
            }
            open.emplace_back().Start(line);
            return;
        }
        Run* run = Find(id);
        if (event == "result") {
            Run ended;
            if (run) {
                ended = *run;
                open.erase(open.begin() + (run - open.data()));
            } else {
                ended.Start(line);  // its run_started is not in the file
            }
            shown.Add(json ? line.rewritten : ShowResult(ended, line));
            return;
        }
        if (run) run->Event(event, line);
    }

    // A log written before runs had ids: each line belongs to the last
    // run_started before it.
    void ByOrder(const std::string& event, const LogLine& line) {
        if (event == "run_started") {
            if (legacyOpen) Killed(legacy);
            legacy.Start(line);
            legacyOpen = true;
        } else if (event == "result") {
            if (!legacyOpen) legacy.Start(line);
            shown.Add(json ? line.rewritten : ShowResult(legacy, line));
            legacyOpen = false;
        } else if (legacyOpen) {
            legacy.Event(event, line);
        }
    }

    void End() {
        if (legacyOpen) Killed(legacy);
        legacyOpen = false;
        for (const Run& run : open) Killed(run);
        open.clear();
    }
};

std::string Summary(const Reading& reading, const Shown& shown, uint32_t last, bool json) {
    if (json) {
        JsonLine line{"{\"event\":\"show_log\""};
        JsonAddNumber(line, "runs", shown.runs);
        JsonAddNumber(line, "killed", reading.killed);
        JsonAddNumber(line, "skipped_lines", reading.skipped + reading.tooLong);
        JsonAddNumber(line, "too_long_lines", reading.tooLong);
        JsonAddNumber(line, "lines_without_run_id", reading.withoutId);
        JsonAddBool(line, "cut_last_line", reading.cut);
        JsonClose(line);
        return line.text;
    }
    std::string summary = std::to_string(shown.runs) + " run(s) in the log";
    if (last > 0 && shown.runs > last) summary += ", the last " + std::to_string(last) + " shown";
    if (reading.killed > 0) summary += ", " + std::to_string(reading.killed) + " killed";
    summary += "; " + std::to_string(reading.skipped) + " line(s) skipped that are not JSON";
    if (reading.tooLong > 0)
        summary += "; " + std::to_string(reading.tooLong) + " line(s) skipped that are longer than " +
                   std::to_string(SHOW_LOG_MAX_LINE) + " bytes";
    if (reading.withoutId > 0)
        summary +=
            "; " + std::to_string(reading.withoutId) + " line(s) without a run id (an older log) read by their order";
    if (reading.cut) summary += "; the last line was cut short (the program was ended while it wrote)";
    return summary + '\n';
}

}  // namespace

bool ShowLogRead(const ShowLogSource& source, uint32_t last, bool json, const ShowLogSink& out, std::string* error) {
    Shown shown{last, out, {}};
    Reading reading(json, shown);
    LineSplitter lines(source);
    std::string text;
    LogLine line;
    bool ended = false;
    for (;;) {
        const LineSplitter::Got got = lines.Next(&text, &ended, error);
        if (got == LineSplitter::Got::Failed) {
            shown.Flush();
            return false;
        }
        if (got == LineSplitter::Got::End) break;
        if (got == LineSplitter::Got::TooLong) {
            ++reading.tooLong;
            continue;
        }
        if (!ReadLogLine(text.data(), text.size(), false, &line)) {
            // A line cut short at the end of the file is a run that was
            // ended while it wrote; anything else is not the log's.
            if (!ended) {
                reading.cut = true;
            } else if (!text.empty()) {
                ++reading.skipped;
            }
            continue;
        }
        // With --json only result lines are printed: those alone are
        // written again.
        if (json && line.Get("event") == "result") ReadLogLine(text.data(), text.size(), true, &line);
        reading.Line(line);
    }
    reading.End();
    shown.Flush();
    out(Summary(reading, shown, last, json));
    return true;
}

int ShowLog(const char* path, uint32_t last, bool json) {
    auto refuse = [&](const std::string& why) {
        ConsoleOutputPut(
            ConsoleStream::Err,
            "lumaris-update: --show-log: \"" + PrintableText(path) + "\" cannot be read: " + PrintableText(why) + '\n',
            false);
        return static_cast<int>(ExitCode::Usage);
    };
    LogFile file;
    std::string error;
    if (!LogFileOpenForReading(path, &file, &error)) return refuse(error);
    const ShowLogSource source = [&file](char* buffer, size_t length, size_t* got, std::string* why) {
        return LogFileRead(file, buffer, length, got, why);
    };
    // Written at once, not queued: what is shown is all there is to do, and
    // a shown log that could not be written whole is no success.
    const ShowLogSink sink = [](const std::string& text) { ConsoleWrite(stdout, text.c_str()); };
    const bool read = ShowLogRead(source, last, json, sink, &error);
    LogFileClose(file);
    if (!read) return refuse(error);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int writeError = errno;
        ConsoleWrite(stderr, ("lumaris-update: --show-log: standard output cannot be written (" +
                              std::string(std::strerror(writeError)) + ")\n")
                                 .c_str());
        return static_cast<int>(ExitCode::Usage);
    }
    return 0;
}
