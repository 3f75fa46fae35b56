#include "console/options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>

#include "platform/plain_text.h"
#include "runlog/text.h"

namespace {

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }

enum class Kind { Command, Answer, Flag, Verbosity, Value, OptionalValue };

struct CommonOption {
    const char* name;
    Kind kind;
    int value;  // the command, answer or verbosity it sets
};

const CommonOption COMMON_OPTIONS[] = {
    {"--check", Kind::Command, static_cast<int>(ConsoleCommand::Check)},
    {"--list", Kind::Command, static_cast<int>(ConsoleCommand::List)},
    {"--info", Kind::Command, static_cast<int>(ConsoleCommand::Info)},
    {"--version", Kind::Command, static_cast<int>(ConsoleCommand::Version)},
    {"--help", Kind::Command, static_cast<int>(ConsoleCommand::Help)},
    {"-h", Kind::Command, static_cast<int>(ConsoleCommand::Help)},
    {"--yes", Kind::Answer, static_cast<int>(ConsoleAnswerMode::Yes)},
    {"--no", Kind::Answer, static_cast<int>(ConsoleAnswerMode::No)},
    {"--json", Kind::Flag, 0},
    {"-q", Kind::Verbosity, static_cast<int>(ConsoleVerbosity::Quiet)},
    {"--quiet", Kind::Verbosity, static_cast<int>(ConsoleVerbosity::Quiet)},
    {"-v", Kind::Verbosity, static_cast<int>(ConsoleVerbosity::Verbose)},
    {"--verbose", Kind::Verbosity, static_cast<int>(ConsoleVerbosity::Verbose)},
    {"--restart-wait", Kind::Value, 0},
    {"--device", Kind::Value, 0},
    {"--log", Kind::Value, 0},
    {"--label", Kind::Value, 0},
    {"--retries", Kind::Value, 0},
    {"--skip-current", Kind::Flag, 1},
    {"--show-log", Kind::Value, 0},
    {"--last", Kind::Value, 0},
    {"--wait-device", Kind::OptionalValue, 0},
};

constexpr uint32_t RETRIES_MAX = 5;

// The value of a Kind::Value option other than --restart-wait.
bool ParseValue(const std::string& name, const char* value, ConsoleOptions* options, std::string* error) {
    if (name == "--device") {
        if (ParseConsoleNumber(value, JOB_DEVICE_SLOTS - 1, &options->device)) return true;
        *error = BadValue(name, value, "a device index in 0..127 as --list shows it (decimal or 0x hex)");
    } else if (name == "--retries") {
        if (ParseConsoleNumber(value, RETRIES_MAX, &options->retries)) return true;
        *error = BadValue(name, value, "a number of retries in 0..5");
    } else if (name == "--last") {
        if (ParseConsoleNumber(value, UINT32_MAX, &options->last) && options->last > 0) return true;
        *error = BadValue(name, value, "a number of runs of 1 or more");
    } else if (*value == '\0') {
        *error = name + " needs a value that is not empty";
    } else {
        (name == "--log" ? options->logPath : name == "--label" ? options->label : options->showLog) = value;
        return true;
    }
    return false;
}

bool ParseRestartWait(const char* value, RestartWait* wait) {
    if (std::strcmp(value, "auto") == 0) {
        *wait = RestartWait{RESTART_POLL_LIMIT_MS, true, true};
        return true;
    }
    uint32_t ms = 0;
    if (!ParseConsoleNumber(value, RESTART_WAIT_MAX_MS, &ms)) return false;
    *wait = RestartWait{ms, false, true};
    return true;
}

// The option that conflicts with an earlier one of the same kind.
bool Conflicts(const char* kind, const std::string& earlier, const std::string& name, std::string* error) {
    if (earlier.empty()) return false;
    *error = name + " conflicts with " + earlier + " (" + kind + ")";
    return true;
}

// --show-log reads a file and touches no device: only --last and --json go with it.
bool ShowLogOptions(const std::set<std::string>& seen, const std::string& command, std::string* error) {
    if (!command.empty()) {
        *error = "--show-log conflicts with " + command + " (one command at a time)";
        return false;
    }
    for (const std::string& name : seen) {
        if (name == "--show-log" || name == "--last" || name == "--json") continue;
        *error = name + " conflicts with --show-log (it reads a log and touches no device)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseConsoleNumber(const char* text, uint32_t max, uint32_t* out) {
    if (!text || !*text) return false;
    uint64_t value = 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const char* digits = text + 2;
        if (!*digits) return false;
        for (const char* p = digits; *p; ++p) {
            const int digit = HexDigitValue(*p);
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > max) return false;
        }
    } else {
        if (text[0] == '0' && text[1] != '\0') return false;  // would read as octal elsewhere
        for (const char* p = text; *p; ++p) {
            if (!IsDecimal(*p)) return false;
            value = value * 10 + static_cast<uint64_t>(*p - '0');
            if (value > max) return false;
        }
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseConsoleVersion(const char* text, uint16_t* out) {
    if (!text) return false;
    const char* dot = std::strchr(text, '.');
    if (!dot) {
        uint32_t value = 0;
        if (!ParseConsoleNumber(text, 0xFFFF, &value)) return false;
        *out = static_cast<uint16_t>(value);
        return true;
    }
    const std::string major(text, dot);
    uint32_t high = 0;
    if (!ParseConsoleNumber(major.c_str(), 0xFF, &high) || major.rfind("0x", 0) == 0 || major.rfind("0X", 0) == 0)
        return false;
    // The minor in two digits at least, so that "1.5" is neither 1.05 nor
    // 1.50; three where it needs them (1.255).
    const char* minor = dot + 1;
    const size_t digits = std::strlen(minor);
    if (digits < 2 || digits > 3) return false;
    uint32_t low = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (!IsDecimal(minor[i])) return false;
        low = low * 10 + static_cast<uint32_t>(minor[i] - '0');
    }
    if (low > 0xFF) return false;
    *out = static_cast<uint16_t>(high << 8 | low);
    return true;
}

RunCommand RunCommandOf(ConsoleCommand command) {
    return command == ConsoleCommand::Check  ? RunCommand::Check
           : command == ConsoleCommand::List ? RunCommand::List
                                             : RunCommand::Update;
}

std::string BadValue(const std::string& name, const char* value, const char* allowed) {
    return name + ": \"" + value + "\" is not " + allowed;
}

bool TakeOptionValue(const std::string& name, const char* inlineValue, ArgCursor& args, const char** value,
                     std::string* error) {
    if (inlineValue) {
        *value = inlineValue;
        return true;
    }
    if (args.next >= args.argc) {
        *error = name + " needs a value";
        return false;
    }
    // "--label --json" is a forgotten value more often than a label: a
    // value that looks like an option is taken only when written with "=".
    const char* next = args.argv[args.next];
    if (next[0] == '-' && next[1] != '\0') {
        *error = name + " needs a value, and \"" + next +
                 "\" is taken for an option; a value that starts with '-' is written " + name + "=" + next;
        return false;
    }
    *value = args.argv[args.next++];
    return true;
}

bool ParseConsoleOptions(int argc, char** argv, BusOptionParser parseBus, ConsoleOptions* options, std::string* error) {
    ArgCursor args{argc, argv, 1};
    std::set<std::string> seen;
    std::string command, answer, verbosity;
    while (args.next < args.argc) {
        const char* argument = args.argv[args.next++];
        std::string name = argument;
        const char* inlineValue = nullptr;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            // Into the argument itself: a text option keeps the pointer for
            // the whole run.
            inlineValue = argument + equals + 1;
            name.resize(equals);
        }
        if (!seen.insert(name).second) {
            *error = name + " is given more than once";
            return false;
        }
        const CommonOption* common = nullptr;
        for (const CommonOption& option : COMMON_OPTIONS) {
            if (name == option.name) common = &option;
        }
        if (!common) {
            switch (parseBus(name, inlineValue, args, error)) {
                case OptionParse::Matched: continue;
                case OptionParse::Error: return false;
                case OptionParse::NotMine: break;
            }
            *error = "unknown option \"" + name + "\" (--help lists them)";
            return false;
        }
        if (inlineValue && common->kind != Kind::Value && common->kind != Kind::OptionalValue) {
            *error = name + " takes no value";
            return false;
        }
        switch (common->kind) {
            case Kind::Command:
                if (Conflicts("one command at a time", command, name, error)) return false;
                command = name;
                options->command = static_cast<ConsoleCommand>(common->value);
                break;
            case Kind::Answer:
                if (Conflicts("one answer", answer, name, error)) return false;
                answer = name;
                options->answers = static_cast<ConsoleAnswerMode>(common->value);
                break;
            case Kind::Verbosity:
                if (Conflicts("quiet or verbose", verbosity, name, error)) return false;
                verbosity = name;
                options->verbosity = static_cast<ConsoleVerbosity>(common->value);
                break;
            case Kind::Flag: (common->value ? options->skipCurrent : options->json) = true; break;
            case Kind::OptionalValue: {
                // --wait-device [SECONDS]: the next argument is its value
                // unless it is another option.
                options->waitDevice = true;
                const char* value = inlineValue;
                if (!value && args.next < args.argc && args.argv[args.next][0] != '-') value = args.argv[args.next++];
                if (value && (!ParseConsoleNumber(value, WAIT_DEVICE_MAX_SECONDS, &options->waitDeviceSeconds) ||
                              options->waitDeviceSeconds == 0)) {
                    *error = BadValue(name, value, "a number of seconds in 1..86400 (none: wait without end)");
                    return false;
                }
                break;
            }
            case Kind::Value: {
                const char* value = nullptr;
                if (!TakeOptionValue(name, inlineValue, args, &value, error)) return false;
                if (name != "--restart-wait") {
                    if (!ParseValue(name, value, options, error)) return false;
                } else if (!ParseRestartWait(value, &options->restartWait)) {
                    *error = BadValue(name, value, "auto or a number of milliseconds in 0..60000 (decimal or 0x hex)");
                    return false;
                }
                break;
            }
        }
    }
    if (seen.count("--show-log") && !ShowLogOptions(seen, command, error)) return false;
    if (seen.count("--last") && !seen.count("--show-log")) {
        *error = "--last needs --show-log";
        return false;
    }
    if (options->showLog) options->command = ConsoleCommand::ShowLog;
    // Options that the chosen command has no use for.
    const ConsoleCommand c = options->command;
    const bool asks = c == ConsoleCommand::Update;
    const bool waits = c == ConsoleCommand::Update || c == ConsoleCommand::Check;
    if (!asks && !answer.empty()) {
        *error = answer + " conflicts with " + command + " (it asks no question)";
        return false;
    }
    for (const char* option : {"--restart-wait", "--device", "--log", "--label", "--skip-current", "--wait-device"}) {
        if (waits || !seen.count(option)) continue;
        *error = std::string(option) + " conflicts with " + command + " (it updates and checks no device)";
        return false;
    }
    if (!asks && seen.count("--retries")) {
        *error = "--retries conflicts with " + command + " (only an update is retried)";
        return false;
    }
    if (c == ConsoleCommand::Help && seen.size() > 1) {
        *error = command + " takes no other option";
        return false;
    }
    return true;
}
