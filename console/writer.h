// The two ways the console program writes a run: lines for a person
// (human_writer.cpp) or one JSON object per line (json_writer.cpp). The
// report picks one at start-up; the recorder hands it every event after
// keeping what the event says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/options.h"
#include "console/result.h"
#include "platform/update_events.h"

// A box the core showed, and how it was answered.
struct BoxShown {
    const wchar_t* text;
    size_t textLength;
    const wchar_t* caption;
    size_t captionLength;
    unsigned style;
    bool question;           // a yes/no question
    bool error;              // the "Error" box
    int answer;              // ANSWER_OK, ANSWER_YES or ANSWER_NO
    const char* answeredBy;  // " (--yes)", " (--no)", " (no terminal to ask)" or ""
    uint32_t count;          // identical boxes in a row that this one stands for
};

// What the result and the log say about the run beside the core's events.
struct RunContext {
    std::string programVersion;
    std::string imageVersion;
    std::string imageSha256;
    const char* label = nullptr;  // --label, or none
    uint32_t attempt = 1;         // this attempt's number (--retries)
    uint32_t attempts = 1;        // attempts allowed
};

struct ConsoleWriter {
    // Every event, after the recorder has kept it in the run record.
    UpdateEvents events;
    void (*box)(const BoxShown& box);
    void (*text)(int x, int y, const wchar_t* text, size_t length);
    void (*loaderLine)(const char* text);
    // One packet sent or reply read, in hexadecimal (-v).
    void (*packet)(bool sent, const std::string& hex);
    // A stop request while flash writing is unlocked: the update finishes
    // its `pagesLeft` pages first.
    void (*stopDeferred)(uint32_t pagesLeft);
    void (*result)(ConsoleCommand command, const ConsoleResult& result, const RunRecord& run);
    // An error of the program itself, before or instead of a run.
    void (*failure)(ConsoleCommand command, const ConsoleResult& result);
    // Attempt `attempt` starts again from discovery after `after` failed.
    void (*attempt)(uint32_t attempt, uint32_t attempts, const ConsoleResult& after);
};

// Where the JSON writer writes: standard output (--json) and the run log
// (--log), either or both.
void JsonWriterTargets(bool screen, bool log);

extern const ConsoleWriter HUMAN_WRITER;
extern const ConsoleWriter JSON_WRITER;
