// The run log's file: which files it appends to, a broken last line ended
// before the next line, and whole lines from writers appending at once.
#include "platform/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>

#include <thread>
#endif

namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
   protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("log_file_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Path(const char* name) const { return (folder_ / name).string(); }

    fs::path folder_;
};

TEST_F(LogFileTest, AppendsOnlyToANewOrEmptyFileOrALog) {
    struct Case {
        const char* name;
        const char* content;  // nullptr: no such file
        bool opens;
        const char* why;
    };
    const Case cases[] = {
        {"new", nullptr, true, ""},
        {"empty", "", true, ""},
        {"a log", "{\"event\":\"run_started\",\"t_ms\":0}\n", true, ""},
        {"a log cut in its first line", "{\"event\":\"run_st", true, ""},
        {"firmware", ":100000000102030405060708090A0B0C0D0E0F1068\n", false, "Intel HEX"},
        {"other JSON", "{\"name\":\"x\"}\n", false, "not a log"},
        {"text", "notes\n", false, "not a log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(c.name);
        if (c.content) WriteWholeFile(path, c.content);
        LogFile log;
        std::string error;
        EXPECT_EQ(LogFileOpen(path.c_str(), &log, &error), c.opens) << error;
        if (c.opens) {
            EXPECT_TRUE(LogFileAppend(log, "{\"event\":\"result\"}\n", &error)) << error;
            LogFileClose(log);
        } else {
            EXPECT_NE(error.find(c.why), std::string::npos) << error;
            EXPECT_EQ(ReadWholeFile(path), c.content) << "a refused file is left as it was";
        }
    }
}

TEST_F(LogFileTest, EndsABrokenLastLineBeforeItsFirstLine) {
    const std::string path = Path("station.jsonl");
    WriteWholeFile(path, "{\"event\":\"run_started\"}\n{\"event\":\"page_prog");
    LogFile log;
    std::string error;
    ASSERT_TRUE(LogFileOpen(path.c_str(), &log, &error)) << error;
    ASSERT_TRUE(LogFileAppend(log, "{\"event\":\"run_started\"}\n", &error)) << error;
    ASSERT_TRUE(LogFileAppend(log, "{\"event\":\"result\"}\n", &error)) << error;
    LogFileClose(log);
    EXPECT_EQ(
        ReadWholeFile(path),
        "{\"event\":\"run_started\"}\n{\"event\":\"page_prog\n{\"event\":\"run_started\"}\n{\"event\":\"result\"}\n");
}

#if !defined(_WIN32)
TEST_F(LogFileTest, RefusesAFifoWithoutOpeningIt) {
    const std::string path = Path("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    LogFile log;
    std::string error;
    // Opening a FIFO for writing with no reader would block: a refusal that
    // returns at all did not open it.
    EXPECT_FALSE(LogFileOpen(path.c_str(), &log, &error));
    EXPECT_NE(error.find("FIFO"), std::string::npos) << error;
    EXPECT_FALSE(LogFileOpen("/dev/null", &log, &error));
    EXPECT_NE(error.find("device"), std::string::npos) << error;
}

TEST_F(LogFileTest, TwoStationsAppendingLongLinesAtOnceNeverMixThem) {
    // Each station opens the file on its own, as two programs would, and
    // appends lines longer than a stdio buffer.
    const std::string path = Path("shared.jsonl");
    constexpr int LINES = 300;
    auto station = [&](char mark) {
        LogFile log;
        std::string error;
        ASSERT_TRUE(LogFileOpen(path.c_str(), &log, &error)) << error;
        const std::string line = "{\"event\":\"x\",\"fill\":\"" + std::string(10 * 1024, mark) + "\"}\n";
        for (int i = 0; i < LINES; ++i) ASSERT_TRUE(LogFileAppend(log, line, &error)) << error;
        LogFileClose(log);
    };
    std::thread a(station, 'a'), b(station, 'b');
    a.join();
    b.join();
    std::istringstream lines(ReadWholeFile(path));
    std::string line;
    int count[2] = {0, 0};
    while (std::getline(lines, line)) {
        const std::string fill = line.substr(21, 10 * 1024);
        ASSERT_TRUE(fill == std::string(fill.size(), 'a') || fill == std::string(fill.size(), 'b')) << "mixed line";
        ASSERT_EQ(line.size(), 21 + 10 * 1024 + 2u);
        ++count[fill[0] - 'a'];
    }
    EXPECT_EQ(count[0], LINES);
    EXPECT_EQ(count[1], LINES);
}
#endif

}  // namespace
