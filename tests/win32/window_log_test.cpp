// The window program's support log over whole runs: the real worker on its
// own thread against the simulated device, as Update Firmware starts it,
// with the log in a folder of the test's own. Each run adds its lines, its
// result says what the window showed, and a log that cannot be kept
// changes nothing of the run.
#include "app/window_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/resource.h"
#include "app/support_log.h"
#include "app/update_run.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"
#include "tests/win32/hidden_main_window.h"
#include "tests/win32/window_run_rig.h"

namespace {

namespace fs = std::filesystem;

fs::path gLogFolder;
std::string LogFolder() { return gLogFolder.string(); }

std::vector<std::string> LogLines() {
    std::ifstream in(gLogFolder / SUPPORT_LOG_NAME, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
// The text of `"key":"..."` in a JSON line, or "" without it.
std::string Field(const std::string& line, const char* key) {
    const std::string start = std::string("\"") + key + "\":\"";
    const size_t at = line.find(start);
    if (at == std::string::npos) return "";
    const size_t from = at + start.size();
    return line.substr(from, line.find('"', from) - from);
}
// The number of `"key":N` in a JSON line, or "" without it.
std::string NumberField(const std::string& line, const char* key) {
    const std::string start = std::string("\"") + key + "\":";
    const size_t at = line.find(start);
    if (at == std::string::npos) return "";
    const size_t from = at + start.size();
    return line.substr(from, line.find_first_not_of("0123456789", from) - from);
}
size_t Count(const std::vector<std::string>& lines, const char* event) {
    size_t n = 0;
    for (const std::string& line : lines) n += Field(line, "event") == event;
    return n;
}
// The texts the window drew, trailing blanks left off, joined by "|".
std::string TextsDrawn() {
    std::string texts;
    for (const FakeEvent& event : gFake.events) {
        if (event.kind != FakeEvent::Text) continue;
        std::wstring text = event.text;
        while (!text.empty() && text.back() == L' ') text.pop_back();
        texts += std::string(text.begin(), text.end()) + "|";
    }
    return texts;
}

class WindowLogTest : public ::testing::Test {
   protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / "window_log_test";
        fs::remove_all(base_);
        fs::create_directories(base_);
        gLogFolder = base_ / "Lumaris Update";
        InstallWindowLog("9.9.9", LogFolder);
    }
    void TearDown() override {
        gEvents = IgnoreUpdateEvent;
        fs::remove_all(base_);
    }
    // One run of File > Update Firmware.
    static void RunUpdate() {
        HiddenMainWindow main;
        ASSERT_TRUE(main.created);
        SendMessageW(gMainWindow, WM_COMMAND, IDM_UPDATE, 0);
        ASSERT_TRUE(PumpUntilWorkerEnded());
    }

    fs::path base_;
};

// The demo image has 53 pages (10..62). A device that drops the second
// half of page 20 fails that page's checksum.
TEST_F(WindowLogTest, EachRunEndsWithAResultThatSaysWhatTheWindowShowed) {
    enum Kind { Update, FailsAtPage20, Refused, AnsweredNo, NoDevice, NoLibrary };
    struct Case {
        const char* what;
        Kind kind;
        const char* texts;  // what the window drew
        const char* outcome;
        const char* deviceState;
        const char* failure;  // the run's failure lines: cause and page; or nullptr
    };
    const Case cases[] = {
        {"a whole update", Update, "Working|OK|REBOOT|", "updated", "runs-image", nullptr},
        {"a checksum that does not match at page 20", FailsAtPage20, "Working|ERROR|", "programming-failed",
         "no-valid-application", "checksum-mismatch page 20;"},
        {"an image for another type", Refused, "Working|ERROR|", "refused", "bootloader-application-kept", nullptr},
        {"an older image declined with No", AnsweredNo, "Working|OK|REBOOT|", "declined", "kept-application", nullptr},
        {"no device", NoDevice, "", "no-device", "none", nullptr},
        // Every call fails as it does without the library; the log names
        // the library's problem, not a missing device.
        {"no USB library", NoLibrary, "", "no-library", "unknown", nullptr},
    };
    size_t runs = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimDevice* device = AttachOlderDevice();
        switch (c.kind) {
            case Update: break;
            case FailsAtPage20: device->dropsSecondHalfOfPage = 20; break;
            case Refused:
                // A valid application of its own type: the window leaves it
                // waiting in its bootloader.
                SimSetDeviceType(device, 0x84);
                SimSetInstalledApp(device, 0x00, 0x50, true);
                break;
            case AnsweredNo:
                SimSetInstalledApp(device, 0x02, 0x00, true);
                gFake.answers = {ANSWER_NO};
                break;
            case NoDevice: gSimBus.devices.clear(); break;
            case NoLibrary:
                gSimBus.devices.clear();
                WindowLogKnowLibrary("", "SiUSBXp.dll was not found: looked for Z:/p/SiUSBXp.dll");
                break;
        }
        RunUpdate();
        WindowLogKnowLibrary("Z:/p/SiUSBXp.dll", "");
        ++runs;
        EXPECT_EQ(TextsDrawn(), c.texts);

        const std::vector<std::string> lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(Count(lines, "run_started"), runs) << "every run adds to the runs before it";
        size_t started = lines.size();
        while (started > 0 && Field(lines[started - 1], "event") != "run_started") --started;
        ASSERT_GT(started, 0u);
        const std::string& first = lines[started - 1];
        EXPECT_EQ(Field(first, "program"), "window");
        EXPECT_EQ(Field(first, "program_version"), "9.9.9");
        EXPECT_EQ(Field(first, "image_sha256").size(), 64u);
        EXPECT_EQ(Field(first, "run_id").size(), 32u);
        EXPECT_EQ(Field(lines.back(), "run_id"), Field(first, "run_id")) << "the result is the run's own";
        if (c.kind == NoLibrary) {
            EXPECT_EQ(Field(first, "usb_library_problem"), "SiUSBXp.dll was not found: looked for Z:/p/SiUSBXp.dll");
            EXPECT_NE(Field(lines.back(), "message").find("was not found"), std::string::npos);
            EXPECT_EQ(Field(lines.back(), "next"), "install-library");
        }
        const std::string& result = lines.back();
        EXPECT_EQ(Field(result, "event"), "result");
        EXPECT_EQ(Field(result, "outcome"), c.outcome);
        EXPECT_EQ(Field(result, "device_state"), c.deviceState);
        std::string causes;
        for (size_t i = started; i < lines.size(); ++i)
            if (Field(lines[i], "event") == "failure")
                causes += Field(lines[i], "cause") + " page " + NumberField(lines[i], "page") + ";";
        if (c.failure) {
            EXPECT_EQ(causes, c.failure);
        } else {
            EXPECT_EQ(causes, "");
        }
    }
}

// A file where the log's folder should be: the update runs, draws and
// programs as it does without a log, and the file stays as it was.
TEST_F(WindowLogTest, AFileWhereTheFolderShouldBeLeavesTheUpdateAsItIs) {
    std::ofstream(gLogFolder, std::ios::binary) << "notes\n";
    SimDevice* device = AttachOlderDevice();
    RunUpdate();
    EXPECT_EQ(TextsDrawn(), "Working|OK|REBOOT|");
    EXPECT_TRUE(DeviceHoldsImage(device, DemoImage(), RIG_OLD_FILL));
    EXPECT_EQ(device->runCommands, 1u);
    std::ifstream in(gLogFolder, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "notes\n");
}

}  // namespace
