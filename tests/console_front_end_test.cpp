// The console program's own pieces: its number and version rules, SHA-256
// against the standard's test vectors, and the result it draws from a run's
// events (the exit code must say what the device holds).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootloader/commands.h"
#include "console/human_writer.h"
#include "console/next_step_words.h"
#include "console/options.h"
#include "console/report.h"
#include "console/retries.h"
#include "image/sha256.h"
#include "platform/plain_text.h"
#include "runlog/json.h"
#include "runlog/json_writer.h"
#include "runlog/recorder.h"
#include "runlog/text.h"
#include "tests/test_support.h"

namespace {

TEST(ConsoleOptions, NumbersAreDecimalOrHexOnly) {
    struct Case {
        const char* text;
        uint32_t max;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"0", 10, true, 0},
        {"10", 10, true, 10},
        {"11", 10, false, 0},
        {"0x0A", 10, true, 10},
        {"0XfF", 255, true, 255},
        {"010", 100, false, 0},
        {"-1", 100, false, 0},
        {"+1", 100, false, 0},
        {" 1", 100, false, 0},
        {"1 ", 100, false, 0},
        {"0x", 100, false, 0},
        {"", 100, false, 0},
        {"1e3", 10000, false, 0},
        {"0x100", 255, false, 0},
        {"99999999999999999999", 0xFFFFFFFF, false, 0},
        {"4294967295", 0xFFFFFFFF, true, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        uint32_t value = 12345;
        EXPECT_EQ(ParseConsoleNumber(c.text, c.max, &value), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ConsoleOptions, VersionsReadAndWriteOneWay) {
    struct Case {
        const char* text;
        bool ok;
        uint16_t value;
    };
    const Case cases[] = {{"1.10", true, 0x010A},  {"0x010A", true, 0x010A}, {"266", true, 0x010A},
                          {"0.90", true, 0x005A},  {"255.99", true, 0xFF63}, {"2.00", true, 0x0200},
                          {"1.100", true, 0x0164}, {"1.255", true, 0x01FF},  {"1.256", false, 0},
                          {"1.0100", false, 0},    {"1.5", false, 0},        {"256.00", false, 0},
                          {"0x01.10", false, 0},   {"1.", false, 0},         {".10", false, 0},
                          {"1.1a", false, 0},      {"0x10000", false, 0},    {"-1.00", false, 0}};
    for (const Case& c : cases) {
        uint16_t value = 0xBEEF;
        EXPECT_EQ(ParseConsoleVersion(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    EXPECT_EQ(FormatVersion(0x01, 0x0A), "1.10");
    EXPECT_EQ(FormatVersion(0x01, 0x00), "1.00");
    EXPECT_EQ(FormatVersion(0x00, 0x5A), "0.90");
    EXPECT_EQ(FormatVersion(0x01, 0xFF), "1.255");
    EXPECT_EQ(FormatVersion(0xFF, 0xFF), "no version");
    // Every version reads back as itself from how it prints.
    for (unsigned v = 0; v < 0xFFFF; ++v) {
        const auto hi = static_cast<uint8_t>(v >> 8), lo = static_cast<uint8_t>(v & 0xFF);
        uint16_t back = 0;
        ASSERT_TRUE(ParseConsoleVersion(FormatVersion(hi, lo).c_str(), &back)) << v;
        EXPECT_EQ(back, v);
    }
}

TEST(Sha256, StandardTestVectors) {
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(two.data()), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million 'a', fed in uneven pieces.
    const std::vector<uint8_t> a(1000000, 'a');
    Sha256 hash;
    Sha256Begin(hash);
    size_t at = 0, piece = 1;
    while (at < a.size()) {
        const size_t take = std::min(piece, a.size() - at);
        Sha256Add(hash, a.data() + at, take);
        at += take;
        piece = piece * 3 % 1000 + 1;
    }
    uint8_t digest[32];
    Sha256End(hash, digest);
    EXPECT_EQ(digest[0], 0xcd);
    EXPECT_EQ(digest[31], 0xd0);
    EXPECT_EQ(Sha256Hex(a.data(), a.size()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// A run in which everything went well, to spoil one fact at a time.
RunRecord GoodRun() {
    RunRecord run;
    run.deviceFound = true;
    run.firstKind = DeviceKind::Application;
    run.restartRequested = run.restartAwaited = true;
    run.identified = true;
    run.deviceType = 0x83;
    run.installedHi = 0;
    run.installedLo = 90;
    run.installedValid = true;
    run.imagePrepared = run.imageLoaded = run.imageAccepted = true;
    run.imageType = 0x83;
    run.imageHi = 1;
    run.imageLo = 0;
    run.programmingStarted = true;
    run.pagesTotal = run.pagesWritten = run.pagesVerified = 53;
    run.signatureWritten = run.signatureConfirmed = run.runSent = true;
    run.finished = run.deviceReady = true;
    return run;
}

TEST(RunResult, ExitZeroOnlyWhenTheDeviceRunsTheImage) {
    struct Case {
        const char* what;
        void (*spoil)(RunRecord&);
        int exitCode;
        const char* state;
    };
    const Case cases[] = {
        {"all well", [](RunRecord&) {}, 0, "runs-image"},
        {"one page not verified", [](RunRecord& r) { r.pagesVerified = 52; }, 4, "no-valid-application"},
        {"signature not confirmed", [](RunRecord& r) { r.signatureConfirmed = false; }, 4, "no-valid-application"},
        {"run command not sent", [](RunRecord& r) { r.runSent = false; }, 1, "holds-image"},
        {"worker ended not ready", [](RunRecord& r) { r.deviceReady = false; }, 1, "holds-image"},
        {"no page at all", [](RunRecord& r) { r.pagesTotal = r.pagesWritten = r.pagesVerified = 0; }, 4,
         "no-valid-application"},
        {"declined, run command not sent",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.answered = true;
             r.runSent = false;
         },
         1, "bootloader-application-kept"},
        {"refused, run command not sent",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.imageAccepted = false;
             r.runSent = false;
         },
         1, "bootloader-application-kept"},
        {"current, skipped and started",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.alreadyCurrent = true;
         },
         0, "runs-image"},
        {"current, skipped, run command not sent",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.alreadyCurrent = true;
             r.runSent = false;
         },
         1, "bootloader-application-kept"},
        {"unknown first device",
         [](RunRecord& r) {
             r = RunRecord{};
             r.deviceFound = true;
             r.firstKind = DeviceKind::Unknown;
         },
         1, "unchanged"},
        {"declined, valid application",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.pagesTotal = r.pagesWritten = r.pagesVerified = 0;
             r.signatureWritten = r.signatureConfirmed = false;
             r.question = VersionQuestion::OlderImage;
             r.answered = true;
         },
         3, "kept-application"},
        {"declined, no valid application",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.signatureConfirmed = false;
             r.answered = true;
             r.installedValid = false;
         },
         1, "no-valid-application"},
        {"refused",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.imageAccepted = false;
         },
         1, "kept-application"},
        {"never identified",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.identified = false;
             r.imageAccepted = false;
         },
         1, "unchanged"},
        {"no device", [](RunRecord& r) { r = RunRecord{}; }, 1, "none"},
        {"a device arrived while pages were written",
         [](RunRecord& r) {
             r.busChanged = true;
             r.busPhase = BusWatchPhase::Update;
         },
         5, "runs-image"},
        {"a device arrived while pages were written, and a page failed",
         [](RunRecord& r) {
             r.busChanged = true;
             r.busPhase = BusWatchPhase::Update;
             r.pagesVerified = 52;
         },
         4, "no-valid-application"},
        {"the bus changed during the restart, the device sent back",
         [](RunRecord& r) {
             r.programmingStarted = false;
             r.imagePrepared = false;
             r.busChanged = true;
         },
         1, "kept-application"},
        {"the bus changed during the restart, the device not known",
         [](RunRecord& r) {
             r = RunRecord{};
             r.deviceFound = true;
             r.firstKind = DeviceKind::Application;
             r.restartRequested = true;
             r.busChanged = true;
         },
         1, "unknown"},
        {"a bootloader waits beside the chosen device",
         [](RunRecord& r) {
             r = RunRecord{};
             r.deviceFound = true;
             r.firstKind = DeviceKind::Application;
             r.bootloaderWaiting = true;
         },
         2, "unchanged"},
        {"the signature page's selection failed: nothing erased",
         [](RunRecord& r) {
             r.pagesTotal = 53;
             r.pagesWritten = r.pagesVerified = 0;
             r.signatureWritten = r.signatureConfirmed = r.runSent = r.deviceReady = false;
             r.failures = 1;
             r.failure = ExchangeFailure{DeviceCommand::SelectPage, 62, 0, ExchangeFault::WriteFailed, 0, 0, 1};
         },
         1, "bootloader-application-kept"},
        {"the signature page's erase failed: maybe erased",
         [](RunRecord& r) {
             r.pagesWritten = r.pagesVerified = 0;
             r.signatureWritten = r.signatureConfirmed = r.runSent = r.deviceReady = false;
             r.failures = 1;
             r.failure = ExchangeFailure{DeviceCommand::ErasePage, 62, 0, ExchangeFault::NoReply, 100, 0, 1};
         },
         4, "no-valid-application"},
    };
    for (const Case& c : cases) {
        RunRecord run = GoodRun();
        c.spoil(run);
        const RunResult result = DecideResult(RunCommand::Update, run);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.what;
        EXPECT_STREQ(result.deviceState, c.state) << c.what;
    }
    EXPECT_EQ(DecideResult(RunCommand::Update, GoodRun()).line, "device runs firmware 1.00 (updated)");
    RunRecord unknown;
    unknown.deviceFound = true;
    unknown.firstKind = DeviceKind::Unknown;
    EXPECT_STREQ(DecideResult(RunCommand::Update, unknown).outcome, "unknown-device");
}

// No text the program writes today holds a quote or a control character;
// the writer must escape them all the same.
TEST(ConsoleJson, StringsAreEscaped) {
    JsonLine line = JsonObject();
    JsonAddString(line, "s", std::string("a\"b\\c\x01\x1F\n\x7F", 9));
    EXPECT_EQ(line.text, "{\"s\":\"a\\\"b\\\\c\\u0001\\u001F\\n\\u007F\"");
}

TEST(ConsoleJson, DeviceStringsAsUtf8OrAsBytes) {
    const struct {
        std::string bytes;
        const char* json;
    } cases[] = {
        {"2021", "{\"id\":\"2021\""},
        {"Gr\xC3\xBC\xC3\x9F", "{\"id\":\"Gr\\u00FC\\u00DF\""},                  // valid UTF-8: the text
        {"\xF0\x9F\x98\x80", "{\"id\":\"\\uD83D\\uDE00\""},                      // beyond U+FFFF
        {"Gr\xFC\xDF", "{\"id\":\"Gr\\u00FC\\u00DF\",\"id_hex\":\"4772FCDF\""},  // Latin-1 bytes
        {"\xC0\xAF", "{\"id\":\"\\u00C0\\u00AF\",\"id_hex\":\"C0AF\""},          // overlong
        {"a\xE2\x82", "{\"id\":\"a\\u00E2\\u0082\",\"id_hex\":\"61E282\""},      // cut short
    };
    for (const auto& c : cases) {
        JsonLine line = JsonObject();
        JsonAddId(line, "id", reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(line.text, c.json);
    }
}

// Any string, not only a device's: a message naming a folder, a label.
TEST(ConsoleJson, TextAsItsCharacters) {
    JsonLine line = JsonObject();
    JsonAddString(line, "message", "Pr\xC3\xBC\xCE\xA9 \xE4\xB8\xAD");
    JsonAddText(line, "label", "SN\x80-1");
    EXPECT_EQ(line.text,
              "{\"message\":\"Pr\\u00FC\\u03A9 \\u4E2D\",\"label\":\"SN\\u0080-1\",\"label_hex\":\"534E802D31\"");
}

TEST(ConsoleText, TypedTextForAPerson) {
    const struct {
        std::string typed;
        const char* shown;
    } cases[] = {
        {"SN-0042", "SN-0042"},
        {"Pr\xC3\xBC \xCE\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "Pr\xC3\xBC \xCE\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
        {"SN\x80-1", "SN\\x80-1"},                     // a lone continuation byte
        {"\xC0\xAF", "\\xC0\\xAF"},                    // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"a\xE2\x82", "a\\xE2\\x82"},                  // cut short
        {"a\tb\xC2\x85", "a\\x09b\\xC2\\x85"},         // control characters, C0 and C1
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
        {"a\xE2\x80\xAE"
         "b",
         "a\\xE2\\x80\\xAEb"},                                             // a right-to-left override
        {"\xE2\x81\xA6x\xE2\x80\xA8", "\\xE2\\x81\\xA6x\\xE2\\x80\\xA8"},  // an isolate, a line separator
    };
    for (const auto& c : cases) EXPECT_EQ(PrintableText(c.typed), c.shown) << c.shown;
}

// A Windows argument's UTF-16 as bytes: a lone surrogate is kept as bytes
// that are not UTF-8, so that the label is named by them (label_hex).
TEST(ConsoleText, WideArgumentsKeepLoneSurrogates) {
    const struct {
        std::vector<uint16_t> units;
        const char* bytes;
        bool utf8;
    } cases[] = {
        {{'S', 'N', 0x2D}, "SN-", true},
        {{0x03A9, 0x4E2D}, "\xCE\xA9\xE4\xB8\xAD", true},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80", true},  // a pair: one character
        {{'a', 0xD800}, "a\xED\xA0\x80", false},       // a lone high surrogate, last
        {{0xDC00, 'b'},
         "\xED\xB0\x80"
         "b",
         false},  // a lone low surrogate
        {{0xD800, 0xD800, 0xDC00}, "\xED\xA0\x80\xF0\x90\x80\x80", false},
    };
    for (const auto& c : cases) {
        const std::string bytes = ArgumentBytes(c.units.data(), c.units.size());
        EXPECT_EQ(bytes, c.bytes);
        std::u32string decoded;
        EXPECT_EQ(DecodeUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded), c.utf8)
            << c.bytes;
    }
}

TEST(RunResult, CheckAnswersByVerdict) {
    const struct {
        CheckVerdict verdict;
        bool installedValid;
        bool runSent;
        int exitCode;
        const char* outcome;
        const char* state;
    } cases[] = {
        {CheckVerdict::Program, true, true, 0, "would-program", "kept-application"},
        {CheckVerdict::Program, false, true, 0, "would-program", "no-valid-application"},
        {CheckVerdict::Program, true, false, 1, "run-not-sent", "bootloader-application-kept"},
        {CheckVerdict::AskOlder, true, true, 3, "would-ask", "kept-application"},
        {CheckVerdict::AskOlder, true, false, 1, "run-not-sent", "bootloader-application-kept"},
        {CheckVerdict::AskUnversioned, true, true, 3, "would-ask", "kept-application"},
        {CheckVerdict::Refuse, true, true, 1, "would-refuse", "kept-application"},
        {CheckVerdict::Current, true, true, 0, "would-program", "kept-application"},
    };
    for (const auto& c : cases) {
        RunRecord run = GoodRun();
        run.programmingStarted = false;
        run.verdictSeen = true;
        run.verdict = c.verdict;
        run.installedValid = c.installedValid;
        run.runSent = c.runSent;
        const RunResult result = DecideResult(RunCommand::Check, run);
        const std::string what = std::to_string(static_cast<int>(c.verdict)) + (c.runSent ? "" : " no run");
        EXPECT_EQ(result.exitCode, c.exitCode) << what;
        EXPECT_STREQ(result.outcome, c.outcome) << what;
        EXPECT_STREQ(result.deviceState, c.state) << what;
    }
    // The same version, with and without --skip-current, is named as such.
    RunRecord same = GoodRun();
    same.programmingStarted = false;
    same.verdictSeen = true;
    same.verdict = CheckVerdict::Current;
    EXPECT_NE(DecideResult(RunCommand::Check, same).line.find("same version installed"), std::string::npos);
    const RunRequest skipping{.skipCurrent = true};
    EXPECT_STREQ(DecideResult(RunCommand::Check, same, skipping).outcome, "would-skip");
    EXPECT_NE(DecideResult(RunCommand::Check, same, skipping).line.find("same version installed"), std::string::npos);
    RunRecord none = GoodRun();
    none.verdictSeen = false;
    EXPECT_EQ(DecideResult(RunCommand::Check, none).exitCode, 1) << "no verdict: the check failed";
}

// A run can report more than one failed exchange; the record keeps the
// first, the one that decided the run (and whether it is retried), not the
// last, which may be a consequence of it.
TEST(ConsoleRecorder, KeepsTheFirstFailureOfARun) {
    RunRecord run;
    RecorderInstall(RecorderSetup{&run, nullptr, 0});
    const ExchangeFailure first{DeviceCommand::ErasePage, 10, 1, ExchangeFault::NoReply, 100, 0, 1};
    const ExchangeFailure later{DeviceCommand::GetInfo, NO_PAGE, 0, ExchangeFault::BadReply, 0x01, 0, 1};
    RecorderTake(ExchangeFailed{first});
    RecorderTake(ExchangeFailed{later});
    EXPECT_EQ(run.failures, 2u);
    EXPECT_EQ(run.failure.command, DeviceCommand::ErasePage);
    EXPECT_EQ(run.failure.page, 10u);
    EXPECT_EQ(run.failure.fault, ExchangeFault::NoReply);
    RecorderReset();
    EXPECT_EQ(run.failures, 0u) << "another attempt starts without a failure";
    RecorderTake(ExchangeFailed{later});
    EXPECT_EQ(run.failure.fault, ExchangeFault::BadReply) << "the first failure of that attempt";
}

// A No over a device without a valid application names the step that
// installs the image: the option for the console program, the answer for
// the window program, whose user has no options.
TEST(RunResult, DeclinedOverNoApplicationNamesTheStepOfEachProgram) {
    RunRecord run = GoodRun();
    run.installedValid = false;
    run.programmingStarted = false;
    run.pagesTotal = run.pagesWritten = run.pagesVerified = 0;
    run.signatureWritten = run.signatureConfirmed = run.runSent = false;
    run.question = VersionQuestion::OlderImage;
    run.answered = true;
    run.answeredYes = false;
    const RunResult console = DecideResult(RunCommand::Update, run, RunRequest{.words = &CONSOLE_RESULT_WORDS});
    EXPECT_STREQ(console.outcome, "declined");
    EXPECT_NE(console.line.find("--yes installs the image"), std::string::npos) << console.line;
    const RunResult window = DecideResult(RunCommand::Update, run, RunRequest{.words = &PLAIN_RESULT_WORDS});
    EXPECT_STREQ(window.outcome, "declined");
    EXPECT_NE(window.line.find("answered Yes installs the image"), std::string::npos) << window.line;
    EXPECT_EQ(window.line.find("--"), std::string::npos) << window.line;
}

// --retries runs the update again only after a failure another attempt may
// mend, as the docs promise: a device that did not answer, answered short,
// could not be read or left the bus; never after an answer, a stop request
// or a wrong checksum, and never on success.
TEST(ConsoleRetries, RetriesOnlyWhatAnotherAttemptMayMend) {
    enum Then { None, Stopped, StopRequested, Answered };
    const struct {
        ExchangeFault fault;
        Outcome outcome;
        Then then;
        bool retried;
    } cases[] = {
        {ExchangeFault::NoReply, Outcome::ProgrammingFailed, None, true},
        {ExchangeFault::ShortRead, Outcome::Failed, None, true},
        {ExchangeFault::ReadFailed, Outcome::NoBootloader, None, true},
        {ExchangeFault::DeviceGone, Outcome::ProgrammingFailed, None, true},
        {ExchangeFault::DeviceGone, Outcome::Failed, None, true},
        {ExchangeFault::WriteFailed, Outcome::ProgrammingFailed, None, false},
        {ExchangeFault::BadReply, Outcome::ProgrammingFailed, None, false},
        {ExchangeFault::ChecksumMismatch, Outcome::ProgrammingFailed, None, false},
        {ExchangeFault::NoReply, Outcome::Interrupted, Stopped, false},
        {ExchangeFault::NoReply, Outcome::ProgrammingFailed, StopRequested, false},
        {ExchangeFault::NoReply, Outcome::DeclinedNoApplication, Answered, false},
        {ExchangeFault::NoReply, Outcome::Updated, None, false},
    };
    for (const auto& c : cases) {
        RunRecord run = GoodRun();
        run.failures = 1;
        run.failure = ExchangeFailure{DeviceCommand::ErasePage, 12, 3, c.fault, 100, 0, 1};
        run.stopped = c.then == Stopped;
        const RunRequest asked{.stopRequested = c.then == StopRequested};
        run.answered = c.then == Answered;
        const RunResult result = MakeResult(c.outcome, DeviceState::Unknown, "");
        EXPECT_EQ(Retryable(result, run, asked), c.retried)
            << FaultName(c.fault) << " " << result.outcome << " then " << static_cast<int>(c.then);
    }
    RunRecord clean = GoodRun();
    EXPECT_FALSE(Retryable(MakeResult(Outcome::Refused, DeviceState::KeptApplication, ""), clean, RunRequest{}))
        << "a refused image, with no failed exchange";
}

}  // namespace
