// A writer of a run: what it is handed after the recorder has kept an event
// in the run record. The console program writes a run for a person
// (console/human_writer.cpp) or as JSON lines (runlog/json_writer.cpp); the
// window program shows four of the core's events and keeps the JSON lines
// in its support log. A writer fills only the slots it handles: every other
// slot does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "events/update_events.h"
#include "runlog/run_record.h"
#include "runlog/run_result.h"

// A box the core showed, and how it was answered.
struct BoxShown {
    const wchar_t* text;
    size_t textLength;
    const wchar_t* caption;
    size_t captionLength;
    unsigned style;
    bool question;           // a yes/no question
    int answer;              // ANSWER_OK, ANSWER_YES or ANSWER_NO
    const char* answeredBy;  // " (--yes)", " (--no)", " (no terminal to ask)" or ""
    uint32_t count;          // identical boxes in a row that this one stands for
};

// What the result and the log say about the run beside the core's events.
struct RunContext {
    const char* program = "console";  // which program ran: "console" or "window"
    std::string programVersion;
    std::string imageVersion;
    std::string imageSha256;
    const char* label = nullptr;  // --label, or none
    // The run's id, on every line of the run: 128 random bits in hexadecimal,
    // so that the runs of stations and PCs that share one log stay apart.
    std::string runId;
    std::string host;               // the computer's name
    std::string usbLibrary;         // the USB library bound (its path), or empty
    std::string usbLibraryProblem;  // why none was bound
    uint32_t attempt = 1;           // this attempt's number (--retries)
    uint32_t attempts = 1;          // attempts allowed
    // The first exchange that failed, when it ended an earlier attempt: the
    // result's `failure` names it, whatever the later attempts met.
    bool earlierFailure = false;
    ExchangeFailure firstFailure{};
};

struct RunWriter {
    // Every event, after the recorder has kept it in the run record.
    void (*event)(const UpdateEvent& event) = IgnoreUpdateEvent;
    void (*box)(const BoxShown& box) = [](const BoxShown&) {};
    void (*text)(int x, int y, const wchar_t* text, size_t length) = [](int, int, const wchar_t*, size_t) {};
    void (*loaderLine)(const char* text) = [](const char*) {};
    // One packet sent or reply read, in hexadecimal (-v).
    void (*packet)(bool sent, const std::string& hex) = [](bool, const std::string&) {};
    // A stop request while flash writing is unlocked: the update finishes
    // its `pagesLeft` pages first.
    void (*stopDeferred)(uint32_t pagesLeft) = [](uint32_t) {};
    void (*result)(RunCommand command, const RunResult& result) = [](RunCommand, const RunResult&) {};
    // An error of the program itself, before or instead of a run.
    void (*failure)(RunCommand command, const RunResult& result) = [](RunCommand, const RunResult&) {};
    // The program waits for device `device` (ANY_DEVICE: any Lumaris
    // device) to be attached, `seconds` at most (0: without end).
    void (*waitingForDevice)(uint32_t device, uint32_t seconds) = [](uint32_t, uint32_t) {};
    // Attempt `attempt` starts again from discovery after `after` failed.
    void (*attempt)(uint32_t attempt, uint32_t attempts, const RunResult& after) = [](uint32_t, uint32_t,
                                                                                      const RunResult&) {};
};

// What a writer reads besides what it is handed: the record the recorder
// keeps (read only; the recorder has kept each event before the writer
// hears of it), the run's context, and the milliseconds since the run
// began.
struct WriterInputs {
    const RunRecord* run;
    const RunContext* context;
    uint32_t (*elapsedMs)();
};
