// A run log read back as hostile input: which lines are JSON, what a line
// rewritten for --show-log --json holds, how the runs of stations that share
// one log are told apart, and the next step named for every outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/log_line.h"
#include "console/next_step_words.h"
#include "console/show_log.h"
#include "runlog/next_step.h"
#include "runlog/outcome.h"

namespace {

bool Reads(const std::string& text) {
    LogLine line;
    return ReadLogLine(text.data(), text.size(), true, &line);
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "{\"a\":";
    text += "1";
    for (int i = 0; i < depth; ++i) text += "}";
    return text;
}

// --show-log over `text`, as a file would give it in pieces of `piece`
// bytes.
std::string Show(const std::string& text, bool json = false, uint32_t last = 0, size_t piece = 7) {
    size_t at = 0;
    std::string out, error;
    const ShowLogSource source = [&](char* buffer, size_t length, size_t* got, std::string*) {
        const size_t n = std::min({length, piece, text.size() - at});
        std::memcpy(buffer, text.data() + at, n);
        at += n;
        *got = n;
        return true;
    };
    EXPECT_TRUE(ShowLogRead(
        source, last, json, [&](const std::string& part) { out += part; }, &error));
    return out;
}

std::string Started(const char* id, const char* label) {
    return std::string("{\"event\":\"run_started\",\"t_ms\":0,\"run_id\":\"") + id +
           "\",\"utc\":\"2026-12-11T10:00:00Z\",\"program\":\"console\",\"program_version\":\"1.0.0\",\"label\":\"" +
           label + "\"}\n";
}
std::string Page(const char* id) {
    return std::string("{\"event\":\"page_programmed\",\"t_ms\":5,\"run_id\":\"") + id + "\",\"page\":10}\n";
}
std::string Result(const char* id, const char* label, const char* outcome, const char* state) {
    return std::string("{\"event\":\"result\",\"t_ms\":9,\"run_id\":\"") + id + "\",\"outcome\":\"" + outcome +
           "\",\"exit_code\":0,\"device_state\":\"" + state + "\",\"label\":\"" + label + "\",\"message\":\"m\"}\n";
}

// The runs in --show-log's words: each starts with an unindented line.
std::vector<std::string> Runs(const std::string& out) {
    std::vector<std::string> runs;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        if (!line.empty() && line[0] != ' ') runs.push_back(line);
        if (!line.empty() && line[0] == ' ' && !runs.empty()) runs.back() += "\n" + line;
        start = end + 1;
    }
    if (!runs.empty()) runs.pop_back();  // the summary
    return runs;
}

}  // namespace

TEST(LogLine, TakesOnlyWholeJsonObjects) {
    struct Case {
        const char* what;
        std::string text;
        bool json;
    };
    const Case cases[] = {
        {"a bare e as a value", R"({"event":"note","n":e})", false},
        {"a plus", R"({"n":+})", false},
        {"two points", R"({"n":1.2.3})", false},
        {"a leading zero", R"({"n":01})", false},
        {"a trailing comma", R"({"a":1,})", false},
        {"an unterminated string", R"({"a":"x)", false},
        {"a comment", R"({"a":1} // note)", false},
        {"two objects", R"({"a":1} {"b":2})", false},
        {"an array at the top", R"([{"a":1}])", false},
        {"a string at the top", R"("event")", false},
        {"a NUL inside", std::string("{\"a\":\"x\0y\"}", 12), false},
        {"a byte that is not UTF-8 in a string", "{\"a\":\"\xFF\"}", false},
        {"a lone surrogate escape", R"({"a":"\ud800"})", false},
        {"nested past the bound", Nested(LOG_LINE_MAX_DEPTH + 1), false},
        {"nested to the bound", Nested(LOG_LINE_MAX_DEPTH), true},
        {"escapes and a surrogate pair", R"({"a":"q\"b\\s\/\u00e9\ud83d\ude00\n"})", true},
        {"a number past 64 bits", R"({"n":123456789012345678901234567890,"f":-1.5e300})", true},
        {"blanks around", " \t{ \"a\" : [ 1 , {\"b\":null} ] , \"c\":true }\t ", true},
        {"empty", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Reads(c.text), c.json) << c.what;
}

TEST(LogLine, KeepsTheValuesAndRewritesInAscii) {
    const std::string text = R"({"event":"result","run_id":"ab","label":"Ω\u001b[2J","exit_code":4,"options":["x"],)"
                             R"("failure":{"cause":"no-reply","page":18,"deep":{"x":1}},"next":null})";
    LogLine line;
    ASSERT_TRUE(ReadLogLine(text.data(), text.size(), true, &line));
    EXPECT_EQ(line.Get("label"), "\xCE\xA9\x1B[2J");
    EXPECT_EQ(line.Get("exit_code"), "4");
    EXPECT_EQ(line.Get("failure.cause"), "no-reply");
    EXPECT_EQ(line.Get("failure.page"), "18");
    EXPECT_FALSE(line.Has("next")) << "null is no value";
    EXPECT_FALSE(line.Has("options"));
    for (char ch : line.rewritten) {
        const auto c = static_cast<unsigned char>(ch);
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int{c};
    }
    LogLine again;
    ASSERT_TRUE(ReadLogLine(line.rewritten.data(), line.rewritten.size() - 1, false, &again)) << line.rewritten;
    EXPECT_EQ(again.values, line.values);
}

// Stations that share one log write their lines in any order: each line
// belongs to its own run, whatever was written between.
TEST(ShowLog, RunsOfStationsSharingALogStayApart) {
    const std::string a = Started("a1", "SN-A") + Page("a1");
    const std::string b = Started("b2", "SN-B") + Page("b2");
    const std::string third = Started("c3", "SN-C");
    struct Case {
        const char* what;
        std::string log;
        std::vector<std::string> labels;  // in the order the runs are shown
    };
    const Case cases[] = {
        {"two, the first to start ends first",
         a + b + Result("a1", "SN-A", "programming-failed", "no-valid-application") +
             Result("b2", "SN-B", "updated", "runs-image"),
         {"SN-A", "SN-B"}},
        {"two, the last to start ends first",
         a + b + Result("b2", "SN-B", "updated", "runs-image") +
             Result("a1", "SN-A", "programming-failed", "no-valid-application"),
         {"SN-B", "SN-A"}},
        {"three, interleaved",
         a + third + b + Page("a1") + Result("c3", "SN-C", "updated", "runs-image") + Page("b2") +
             Result("a1", "SN-A", "programming-failed", "no-valid-application") +
             Result("b2", "SN-B", "updated", "runs-image"),
         {"SN-C", "SN-A", "SN-B"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> runs = Runs(Show(c.log));
        ASSERT_EQ(runs.size(), c.labels.size()) << c.what << "\n" << Show(c.log);
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_NE(runs[i].find("label " + c.labels[i]), std::string::npos) << c.what << "\n" << runs[i];
            EXPECT_EQ(runs[i].find("killed"), std::string::npos) << c.what << "\n" << runs[i];
            const bool failed = runs[i].find("programming-failed") != std::string::npos;
            EXPECT_EQ(failed, c.labels[i] == "SN-A") << c.what << ": SN-A failed, no other\n" << runs[i];
        }
    }
}

// A power cut leaves a line cut short, NULs and all; the next run's lines
// are read whole after it, and the cut run is shown as killed with its own
// label.
TEST(ShowLog, ACutLineWithNulsEndsItsRunOnly) {
    const std::string log = Started("a1", "SN-A") + Page("a1") + std::string("{\"event\":\"page_pro\0\0\0\0", 23) +
                            "\n" + Started("b2", "SN-B") + Result("b2", "SN-B", "updated", "runs-image");
    const std::vector<std::string> runs = Runs(Show(log));
    ASSERT_EQ(runs.size(), 2u) << Show(log);
    EXPECT_NE(runs[0].find("label SN-B"), std::string::npos) << runs[0];
    EXPECT_NE(runs[0].find("outcome: updated"), std::string::npos) << runs[0];
    EXPECT_NE(runs[1].find("label SN-A"), std::string::npos) << runs[1];
    EXPECT_NE(runs[1].find("outcome: killed"), std::string::npos) << runs[1];
}

// A line longer than the bound is skipped and counted, whatever it holds,
// and the lines after it are read.
TEST(ShowLog, ALineTooLongIsSkippedAndCounted) {
    const std::string huge = "{\"event\":\"note\",\"x\":\"" + std::string(SHOW_LOG_MAX_LINE, 'x') + "\"}\n";
    const std::string out =
        Show(huge + Started("a1", "SN-A") + Result("a1", "SN-A", "updated", "runs-image"), false, 0, 64 * 1024);
    EXPECT_EQ(Runs(out).size(), 1u) << out;
    EXPECT_NE(out.find("1 line(s) skipped that are longer than"), std::string::npos) << out;
}

// No byte of the file reaches the terminal as a control: controls, DEL,
// C1 and bidirectional overrides are shown as \xNN, in words and in JSON.
TEST(ShowLog, NothingFromTheFileReachesTheTerminalRaw) {
    const std::string log =
        "{\"event\":\"run_started\",\"run_id\":\"a1\",\"utc\":\"\\u001b]0;owned\\u0007\",\"label\":\"x\\u202Ey\","
        "\"program\":\"console\\u009b\"}\n"
        "{\"event\":\"failure\",\"run_id\":\"a1\",\"command\":\"erase\",\"page\":\"\\u001b[2J\",\"cause\":\"\\u007f\","
        "\"window_ms\":\"\\r\"}\n"
        "{\"event\":\"result\",\"run_id\":\"a1\",\"outcome\":\"\\u001b[31m\",\"exit_code\":\"\\u001b[2J\","
        "\"device_state\":\"\\u0085\",\"message\":\"\\ufeff\\u2067z\",\"failure\":{\"command\":\"\\u001b\","
        "\"page\":\"\\u0000\",\"window_ms\":\"\\u001b[H\",\"byte\":\"\\u200f\\u202d\"}}\n";
    for (bool json : {false, true}) {
        const std::string out = Show(log, json);
        ASSERT_NE(out.find('\n'), std::string::npos);
        for (size_t i = 0; i < out.size(); ++i) {
            const auto c = static_cast<unsigned char>(out[i]);
            EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << "byte " << int{c} << " at " << i << ":\n" << out;
            if (c == 0xC2 && i + 1 < out.size()) {
                EXPECT_GE(static_cast<unsigned char>(out[i + 1]), 0xA0) << out;
            }
        }
        for (const char* steering : {"\xE2\x80\xAE", "\xE2\x80\xAD", "\xE2\x81\xA7"})
            EXPECT_EQ(out.find(steering), std::string::npos) << out;
        if (json) {
            for (char ch : out) EXPECT_LT(static_cast<unsigned char>(ch), 0x80) << "--json writes ASCII";
        }
    }
}

// What makes `step` impossible after `outcome` with the device in `state`;
// empty when it is possible.
std::string Impossible(Outcome outcome, DeviceState state, bool left, NextStep step) {
    if (left && step == NextStep::RunAgainPluggedIn) return "the device is not plugged in";
    if ((outcome == Outcome::Refused || outcome == Outcome::WouldRefuse) && step != NextStep::UseImageForType)
        return "the same image is refused again";
    if ((outcome == Outcome::Declined || outcome == Outcome::DeclinedNoApplication) &&
        (step == NextStep::RunAgain || step == NextStep::ReplugAndRunAgain || step == NextStep::Nothing))
        return "running again without a Yes declines again";
    if (outcome == Outcome::BusChangedDuringUpdate && step != NextStep::FindProgrammedUnit)
        return "the unit written may be another";
    if (step == NextStep::Nothing && state != DeviceState::RunsImage && outcome != Outcome::Updated &&
        outcome != Outcome::Current && outcome != Outcome::Listed)
        return "nothing to do only when the device runs the image";
    if (state == DeviceState::NoValidApplication && (step == NextStep::Nothing || step == NextStep::NothingOrYes ||
                                                     step == NextStep::ReplugToStart || step == NextStep::RunAgain))
        return "a device without firmware must be updated now";
    if (NextStepWords(step, true).find("--") != std::string::npos) return "the window program has no options";
    NextStep named;
    if (!NextStepFromName(NextStepName(step), &named) || named != step) return "its name is not its own";
    return "";
}

// The next step never asks for what the device's state rules out.
TEST(NextStep, EveryOutcomeAndStateGetsAStepThatIsPossible) {
    for (size_t o = 0; o <= static_cast<size_t>(Outcome::ImageNotLoaded); ++o) {
        for (size_t s = 0; s <= static_cast<size_t>(DeviceState::Unknown); ++s) {
            for (bool left : {false, true}) {
                const auto outcome = static_cast<Outcome>(o);
                const auto state = static_cast<DeviceState>(s);
                const NextStep step = NextStepFor(outcome, state, left);
                EXPECT_EQ(Impossible(outcome, state, left, step), "")
                    << OutcomeText(outcome) << " / " << DeviceStateText(state) << (left ? " / device left" : "") << ": "
                    << NextStepName(step);
            }
        }
    }
}
