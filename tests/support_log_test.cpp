// The window program's support log on real files: where a run's lines go,
// the rotation of a full file with two older ones kept, and a log that
// cannot be made or written turning itself off without a word.
#include "app/support_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directory(folder, error);
    return fs::is_directory(folder, error);
}
int64_t FileSize(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) return 0;
    const uintmax_t size = fs::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}
bool MoveReplacing(const std::string& from, const std::string& to) {
    std::error_code error;
    fs::rename(from, to, error);
    return !error;
}
bool Refuse(const std::string&) { return false; }
bool RefuseMove(const std::string&, const std::string&) { return false; }

const SupportLogFileSystem FILES = {.makeFolder = MakeFolder, .fileSize = FileSize, .moveReplacing = MoveReplacing};
const SupportLogFileSystem NO_FOLDER = {.makeFolder = Refuse, .fileSize = FileSize, .moveReplacing = MoveReplacing};
const SupportLogFileSystem NO_MOVE = {.makeFolder = MakeFolder, .fileSize = FileSize, .moveReplacing = RefuseMove};

constexpr char LINE[] = "{\"event\":\"run_started\",\"program\":\"window\"}\n";

class SupportLogTest : public ::testing::Test {
   protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("support_log_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(base_);
        fs::create_directories(base_);
        folder_ = base_ / "Lumaris Update";
    }
    void TearDown() override {
        SupportLogEndRun(log_);
        fs::remove_all(base_);
    }

    std::string Path(const char* name) const { return (folder_ / name).string(); }
    // A log of whole lines, `bytes` long, every line starting with `mark`.
    static std::string LogOf(size_t bytes, char mark) {
        const std::string line = std::string("{\"event\":\"") + mark + "\"}\n";
        std::string text;
        while (text.size() + line.size() < bytes) text += line;
        text.append(bytes - text.size() - 1, ' ');
        return text + "\n";
    }

    fs::path base_;
    fs::path folder_;
    SupportLog log_;
};

TEST_F(SupportLogTest, MakesItsFolderAndAppendsEachRunsLines) {
    SupportLogSetFolder(log_, folder_.string(), FILES);
    ASSERT_TRUE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    // Each line is in the file as soon as it is put: nothing waits in the
    // program for a flush that a killed program would never make.
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_NAME)), LINE);
    SupportLogPut(log_, "{\"event\":\"result\"}\n");
    SupportLogEndRun(log_);
    ASSERT_TRUE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    SupportLogEndRun(log_);
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_NAME)), std::string(LINE) + "{\"event\":\"result\"}\n" + LINE);
}

TEST_F(SupportLogTest, MovesAFullFileAsideAndKeepsTwoOlderOnes) {
    constexpr size_t FULL = SUPPORT_LOG_ROTATE_BYTES;
    // What a file holds after the run.
    enum class Holds { Nothing, TheLine, CurrentAndLine, Current, Older, Oldest };
    struct Case {
        const char* name;
        size_t current;  // bytes in support-log.jsonl before the run
        bool older;      // support-log.1.jsonl and .2.jsonl there before the run
        Holds currentAfter, olderAfter, oldestAfter;
    };
    const Case cases[] = {
        {"below the limit", FULL - 1, false, Holds::CurrentAndLine, Holds::Nothing, Holds::Nothing},
        {"below the limit, older files", FULL - 1, true, Holds::CurrentAndLine, Holds::Older, Holds::Oldest},
        {"at the limit", FULL, false, Holds::TheLine, Holds::Current, Holds::Nothing},
        {"past the limit, older files", FULL + 100, true, Holds::TheLine, Holds::Current, Holds::Older},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const std::string current = LogOf(c.current, 'c'), older = LogOf(100, 'o'), oldest = LogOf(100, 'x');
        WriteWholeFile(Path(SUPPORT_LOG_NAME), current);
        if (c.older) {
            WriteWholeFile(Path(SUPPORT_LOG_OLDER_NAME), older);
            WriteWholeFile(Path(SUPPORT_LOG_OLDEST_NAME), oldest);
        }
        SupportLogSetFolder(log_, folder_.string(), FILES);
        ASSERT_TRUE(SupportLogBeginRun(log_));
        SupportLogPut(log_, LINE);
        SupportLogEndRun(log_);
        const auto holds = [&](const char* name, Holds what) {
            if (what == Holds::Nothing) return !fs::exists(Path(name));
            const std::string want = what == Holds::TheLine          ? std::string(LINE)
                                     : what == Holds::CurrentAndLine ? current + LINE
                                     : what == Holds::Current        ? current
                                     : what == Holds::Older          ? older
                                                                     : oldest;
            return ReadWholeFile(Path(name)) == want;
        };
        EXPECT_TRUE(holds(SUPPORT_LOG_NAME, c.currentAfter)) << "support-log.jsonl";
        EXPECT_TRUE(holds(SUPPORT_LOG_OLDER_NAME, c.olderAfter)) << "support-log.1.jsonl";
        EXPECT_TRUE(holds(SUPPORT_LOG_OLDEST_NAME, c.oldestAfter)) << "support-log.2.jsonl";
        EXPECT_FALSE(fs::exists(folder_ / "support-log.3.jsonl"));
    }
}

// Whatever stands in the way, the run gets no log, nothing already there is
// lost or changed, and the calls the run makes on the log do nothing.
TEST_F(SupportLogTest, TurnsItselfOffWhenItCannotBeKept) {
    const std::string full = LogOf(SUPPORT_LOG_ROTATE_BYTES, 'c'), older = LogOf(100, 'o');
    struct Case {
        const char* name;
        const SupportLogFileSystem* files;
        bool folderIsAFile;
        bool logIsAFolder;
        const char* current;  // what support-log.jsonl holds, or nullptr
        const char* older;    // what support-log.1.jsonl holds, or nullptr
    };
    const Case cases[] = {
        {"a file where the folder should be", &FILES, true, false, nullptr, nullptr},
        {"the folder cannot be made", &NO_FOLDER, false, false, nullptr, nullptr},
        {"a folder where the log should be", &FILES, false, true, nullptr, nullptr},
        {"the log is not a log", &FILES, false, false, ":100000000102030405060708090A0B0C0D0E0F1068\n", nullptr},
        {"a full log that cannot be moved aside", &NO_MOVE, false, false, full.c_str(), older.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(base_);
        fs::create_directories(base_);
        if (c.folderIsAFile) {
            WriteWholeFile(folder_.string(), "notes\n");
        } else {
            fs::create_directories(folder_);
        }
        if (c.logIsAFolder) fs::create_directories(Path(SUPPORT_LOG_NAME));
        if (c.current) WriteWholeFile(Path(SUPPORT_LOG_NAME), c.current);
        if (c.older) WriteWholeFile(Path(SUPPORT_LOG_OLDER_NAME), c.older);

        SupportLogSetFolder(log_, folder_.string(), *c.files);
        EXPECT_FALSE(SupportLogBeginRun(log_));
        SupportLogPut(log_, LINE);
        SupportLogEndRun(log_);

        if (c.folderIsAFile) {
            EXPECT_EQ(ReadWholeFile(folder_.string()), "notes\n");
        }
        if (c.logIsAFolder) {
            EXPECT_TRUE(fs::is_empty(Path(SUPPORT_LOG_NAME)));
        }
        if (c.current) {
            EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_NAME)), c.current);
        }
        if (c.older) {
            EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_OLDER_NAME)), c.older);
        }
        if (!c.folderIsAFile && !c.logIsAFolder && !c.current) {
            EXPECT_FALSE(fs::exists(Path(SUPPORT_LOG_NAME)));
        }
        EXPECT_FALSE(fs::exists(Path(SUPPORT_LOG_OLDEST_NAME)));
    }
}

TEST_F(SupportLogTest, NoFolderNoLog) {
    SupportLogSetFolder(log_, "", FILES);
    EXPECT_FALSE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    EXPECT_TRUE(fs::is_empty(base_));
}

}  // namespace
