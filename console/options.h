// The console program's command line: one command, the answers, the output
// form and the restart wait. The options of the device bus in use (the
// simulated device on Linux, none on Windows) are handed to the bus.
#pragma once

#include <cstdint>
#include <string>

#include "job/update_job.h"
#include "runlog/run_result.h"
#include "worker/update_worker.h"

enum class ConsoleCommand { Update, Check, List, Info, Version, Help, ShowLog };
enum class ConsoleAnswerMode { Unset, Yes, No };
enum class ConsoleVerbosity { Quiet, Normal, Verbose };

struct ConsoleOptions {
    ConsoleCommand command = ConsoleCommand::Update;
    ConsoleAnswerMode answers = ConsoleAnswerMode::Unset;
    bool json = false;
    ConsoleVerbosity verbosity = ConsoleVerbosity::Normal;
    // Polled (auto): the update goes on as soon as the bootloader is there,
    // and a device that takes longer than the window program's fixed 2 s
    // is still waited for. No wait when the device is found in its
    // bootloader: nothing restarts.
    RestartWait restartWait = {RESTART_POLL_LIMIT_MS, true, true};
    uint32_t device = ANY_DEVICE;    // --device
    const char* logPath = nullptr;   // --log
    const char* label = nullptr;     // --label
    uint32_t retries = 0;            // --retries
    bool skipCurrent = false;        // --skip-current
    const char* showLog = nullptr;   // --show-log
    uint32_t last = 0;               // --last (0: every run)
    bool waitDevice = false;         // --wait-device
    uint32_t waitDeviceSeconds = 0;  // its SECONDS (0: without end)
};

constexpr uint32_t WAIT_DEVICE_MAX_SECONDS = 86400;

constexpr uint32_t RESTART_WAIT_MAX_MS = 60000;

// Decimal digits, or "0x" and hexadecimal digits; no sign, no blank, no
// leading zero (so that nothing reads as octal). At most `max`.
bool ParseConsoleNumber(const char* text, uint32_t max, uint32_t* out);
// "1.10" (major 0..255 in decimal, a dot, the minor 0..255 in at least two
// decimal digits) or a number 0..0xFFFF, e.g. 0x010A.
bool ParseConsoleVersion(const char* text, uint16_t* out);

// The run a command makes (Update for the commands that run none).
RunCommand RunCommandOf(ConsoleCommand command);

// Walks the arguments. Each option's value is the next argument or follows
// "=" in the same one.
struct ArgCursor {
    int argc;
    char** argv;
    int next;  // index of the next argument
};

enum class OptionParse { Matched, NotMine, Error };

// Parses one option of the bus's own (console/bus.h). On Error `error`
// holds the one line to print.
using BusOptionParser = OptionParse (*)(const std::string& name, const char* inlineValue, ArgCursor& args,
                                        std::string* error);

// Parses the whole command line into `options`, handing the options it does
// not know to `parseBus`. Returns false with the one line to print in
// `error` for a usage error.
bool ParseConsoleOptions(int argc, char** argv, BusOptionParser parseBus, ConsoleOptions* options, std::string* error);

// Takes the value of option `name`: the inline one, or the next argument.
bool TakeOptionValue(const std::string& name, const char* inlineValue, ArgCursor& args, const char** value,
                     std::string* error);
// The line for a value out of range: names the option, the value and the range.
std::string BadValue(const std::string& name, const char* value, const char* allowed);

extern const char CONSOLE_USAGE[];
