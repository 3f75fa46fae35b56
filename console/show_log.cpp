#include "console/show_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "console/json_read.h"
#include "platform/console_output.h"
#include "platform/console_platform.h"
#include "runlog/outcome.h"
#include "runlog/text.h"

namespace {

// What the device holds in each state, and the step that works from there.
struct StateWords {
    const char* state;
    const char* holds;
    const char* next;
};

constexpr StateWords STATE_WORDS[] = {
    {"runs-image", "runs the firmware of the image", "nothing: the device is up to date"},
    {"holds-image", "holds the new firmware but was not told to start it",
     "unplug the device and plug it in again: it starts the new firmware"},
    {"kept-application", "runs the firmware it had; nothing was written",
     "nothing is needed; to update it, run the update again and answer Yes"},
    {"bootloader-application-kept", "keeps the firmware it had but waits in its bootloader",
     "unplug the device and plug it in again, or run the update again"},
    {"no-valid-application", "holds no working firmware", "run the update again now, with the device left plugged in"},
    {"unchanged", "was not written to", "check that the right device is plugged in alone, then run the update again"},
    {"none", "no device was found", "plug the device in, then run the update again"},
    {"unknown", "cannot be told", "unplug the device, plug it in again and run the update again"},
};

const StateWords* WordsFor(const std::string& state) {
    for (const StateWords& words : STATE_WORDS) {
        if (state == words.state) return &words;
    }
    return nullptr;
}

// The outcome in words: the outcome table's word and its exit code.
std::string OutcomeWords(const std::string& text, const std::string& exitCode) {
    for (size_t i = 0; i <= static_cast<size_t>(Outcome::ImageNotLoaded); ++i) {
        const Outcome outcome = static_cast<Outcome>(i);
        if (text != OutcomeText(outcome)) continue;
        const std::string code =
            exitCode.empty() ? std::to_string(static_cast<int>(OutcomeExitCode(outcome))) : exitCode;
        return text + " (exit " + code + ")";
    }
    return PrintableText(text) + (exitCode.empty() ? "" : " (exit " + exitCode + ")");
}

std::string FailureCause(const JsonValue& failure) {
    std::string words = PrintableText(JsonText(failure, "command", "?"));
    const std::string page = JsonText(failure, "page");
    if (!page.empty()) words += ", page " + page;
    words += ": " + PrintableText(JsonText(failure, "cause", "?"));
    const std::string window = JsonText(failure, "window_ms");
    if (!window.empty()) words += " (no reply within " + window + " ms)";
    const std::string byte = JsonText(failure, "byte");
    if (!byte.empty()) words += " (byte " + PrintableText(byte) + ")";
    return words;
}

std::string Version(const JsonValue& object, const char* key) {
    return PrintableText(JsonText(object, key, "unknown"));
}

// One run as it is read: from its run_started to its result.
struct Run {
    bool open = false;
    std::string utc, program, programVersion, imageVersion, label;
    std::string failure;        // the last failure event's cause in words
    std::string lastEvent;      // the last event read
    uint32_t pagesWritten = 0;  // page_programmed events
    std::string deviceType, installed;

    void Start(const JsonValue& started) {
        *this = Run();
        open = true;
        utc = JsonText(started, "utc", "unknown time");
        program = JsonText(started, "program", "console");
        programVersion = JsonText(started, "program_version", "unknown");
        imageVersion = JsonText(started, "image_version", "unknown");
        label = JsonText(started, "label");
        lastEvent = "run_started";
    }
    void Event(const std::string& event, const JsonValue& line) {
        lastEvent = event;
        if (event == "failure") failure = FailureCause(line);
        if (event == "page_programmed") ++pagesWritten;
        const std::string type = JsonText(line, "device_type");
        if (!type.empty()) deviceType = type;
        const std::string version = JsonText(line, "installed_version");
        if (!version.empty()) installed = version;
    }
    std::string Head() const {
        std::string head =
            PrintableText(utc) + "  " + PrintableText(program) + " program " + PrintableText(programVersion);
        if (!label.empty()) head += "  label " + PrintableText(label);
        return head + '\n';
    }
};

std::string ShowResult(const Run& run, const JsonValue& result) {
    const std::string state = JsonText(result, "device_state", "unknown");
    const std::string before = Version(result, "installed_version");
    std::string after = "unknown";
    if (state == "runs-image" || state == "holds-image") after = Version(result, "image_version");
    if (state == "kept-application" || state == "bootloader-application-kept") after = before;
    if (state == "no-valid-application") after = "none";
    if (state == "unchanged" || state == "none") after = before;
    std::string text = run.Head();
    text += "  device " + PrintableText(JsonText(result, "device_type", "unknown")) + ": firmware " + before +
            " before, " + after + " after (image " +
            PrintableText(JsonText(result, "image_version", run.imageVersion)) + ")\n";
    // The window program ends with no exit code: its outcome alone.
    const std::string outcome = JsonText(result, "outcome", "unknown");
    text += "  outcome: " +
            (run.program == "window" ? PrintableText(outcome) : OutcomeWords(outcome, JsonText(result, "exit_code"))) +
            " - " + PrintableText(JsonText(result, "message")) + '\n';
    const JsonValue* failure = JsonMember(result, "failure");
    if (failure && failure->type == JsonValue::Type::Object) {
        text += "  cause: " + FailureCause(*failure) + '\n';
    } else if (!run.failure.empty()) {
        text += "  cause: " + run.failure + '\n';
    }
    const StateWords* words = WordsFor(state);
    text += "  device now: " + PrintableText(state) + " (" + (words ? words->holds : "cannot be told") + ")\n";
    // A refused image is refused again: only an image for that device helps.
    const char* next = words ? words->next : STATE_WORDS[7].next;
    if (JsonText(result, "outcome") == "refused") {
        next =
            "this image is not for this device: use the update made for its device type; unplugging and "
            "plugging it in starts the firmware it has";
    }
    text += std::string("  next: ") + next + '\n';
    return text;
}

// A run without a result: the program was ended during it.
std::string ShowKilled(const Run& run) {
    std::string text = run.Head();
    text += "  device " + PrintableText(run.deviceType.empty() ? "unknown" : run.deviceType) + ": firmware " +
            PrintableText(run.installed.empty() ? "unknown" : run.installed) + " before, unknown after (image " +
            PrintableText(run.imageVersion) + ")\n";
    text += "  outcome: killed - the run has no result: the program was ended during it (last event " +
            PrintableText(run.lastEvent) + ")\n";
    if (!run.failure.empty()) text += "  cause: " + run.failure + '\n';
    if (run.pagesWritten > 0) {
        text += "  device now: no-valid-application (it was being written: " + std::to_string(run.pagesWritten) +
                " page(s) written)\n";
        text += "  next: run the update again now, with the device left plugged in\n";
    } else {
        text += "  device now: unknown (nothing was written to it yet)\n";
        text += "  next: unplug the device, plug it in again and run the update again\n";
    }
    return text;
}

std::string KilledJson(const Run& run) {
    return "{\"event\":\"run_killed\",\"utc\":\"" + PrintableText(run.utc) + "\",\"program\":\"" +
           PrintableText(run.program) + "\",\"last_event\":\"" + PrintableText(run.lastEvent) +
           "\",\"pages_programmed\":" + std::to_string(run.pagesWritten) + "}\n";
}

struct Shown {
    uint32_t last;
    std::deque<std::string> kept;  // with --last: the last runs only
    uint32_t runs = 0;

    void Add(const std::string& text) {
        ++runs;
        if (last == 0) {
            ConsoleOutputPut(ConsoleStream::Out, text, false);
            return;
        }
        kept.push_back(text);
        if (kept.size() > last) kept.pop_front();
    }
    void Flush() {
        for (const std::string& text : kept) ConsoleOutputPut(ConsoleStream::Out, text, false);
        kept.clear();
    }
};

// Reads one line into `line` (without its line end); false at the end of
// the file. `ended`: the line had its line end.
bool ReadLine(std::FILE* file, std::string* line, bool* ended) {
    line->clear();
    *ended = false;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file)) {
        size_t length = std::strlen(buffer);
        if (length > 0 && buffer[length - 1] == '\n') {
            *ended = true;
            line->append(buffer, length - 1);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        line->append(buffer, length);
    }
    return !line->empty();
}

}  // namespace

int ShowLog(const char* path, uint32_t last, bool json) {
    std::FILE* file = ConsoleOpenFile(path, "rb");
    if (!file) {
        const int error = errno;
        ConsoleOutputPut(ConsoleStream::Err,
                         "lumaris-update: --show-log: \"" + PrintableText(path) +
                             "\" cannot be read: " + std::strerror(error) + '\n',
                         false);
        return static_cast<int>(ExitCode::Usage);
    }
    Shown shown{last, {}};
    Run run;
    uint32_t skipped = 0, killed = 0;
    bool cut = false;
    std::string line;
    bool ended = false;
    auto endKilled = [&]() {
        if (!run.open) return;
        ++killed;
        shown.Add(json ? KilledJson(run) : ShowKilled(run));
        run.open = false;
    };
    while (ReadLine(file, &line, &ended)) {
        JsonValue object;
        if (!JsonParseObject(line, &object)) {
            // A line cut short at the end of the file is a run that was
            // ended while it wrote; anything else is not the log's.
            if (!ended && std::feof(file) && !std::ferror(file)) {
                cut = true;
            } else if (!line.empty()) {
                ++skipped;
            }
            continue;
        }
        const std::string event = JsonText(object, "event");
        if (event == "run_started") {
            endKilled();
            run.Start(object);
        } else if (event == "result") {
            if (!run.open) run.Start(object);
            shown.Add(json ? line + '\n' : ShowResult(run, object));
            run.open = false;
        } else if (run.open) {
            run.Event(event, object);
        }
    }
    const bool readFailed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (readFailed) {
        shown.Flush();
        ConsoleOutputPut(ConsoleStream::Err,
                         "lumaris-update: --show-log: \"" + PrintableText(path) +
                             "\" cannot be read: " + std::strerror(readError) + '\n',
                         false);
        return static_cast<int>(ExitCode::Usage);
    }
    endKilled();
    shown.Flush();
    std::string summary;
    if (json) {
        summary = "{\"event\":\"show_log\",\"runs\":" + std::to_string(shown.runs) +
                  ",\"killed\":" + std::to_string(killed) + ",\"skipped_lines\":" + std::to_string(skipped) +
                  ",\"cut_last_line\":" + (cut ? "true" : "false") + "}\n";
    } else {
        summary = std::to_string(shown.runs) + " run(s) in the log";
        if (last > 0 && shown.runs > last) summary += ", the last " + std::to_string(last) + " shown";
        if (killed > 0) summary += ", " + std::to_string(killed) + " killed";
        summary += "; " + std::to_string(skipped) + " line(s) skipped that are not JSON";
        if (cut) summary += "; the last line was cut short (the program was ended while it wrote)";
        summary += '\n';
    }
    ConsoleOutputPut(ConsoleStream::Out, summary, false);
    return 0;
}
