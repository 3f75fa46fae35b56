// The support log with the window program's own Windows calls: its folder
// in the user's local application data, a full file moved over older ones
// that are there already, and a file where the folder should be.
#include "app/support_log_win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char LINE[] = "{\"event\":\"run_started\",\"program\":\"window\"}\n";

class SupportLogWin32Test : public ::testing::Test {
   protected:
    void SetUp() override {
        base_ =
            fs::temp_directory_path() /
            ("support_log_win32_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(base_);
        fs::create_directories(base_);
        folder_ = base_ / "Lumaris Update";
        SupportLogSetFolder(log_, folder_.string(), WIN32_SUPPORT_LOG_FILE_SYSTEM);
    }
    void TearDown() override {
        SupportLogEndRun(log_);
        fs::remove_all(base_);
    }
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    fs::path base_;
    fs::path folder_;
    SupportLog log_;
};

TEST(SupportLogFolder, IsLumarisUpdateInTheLocalApplicationData) {
    const std::string folder = SupportLogFolderOfUser();
    const std::string name = "\\Lumaris Update";
    ASSERT_GT(folder.size(), name.size());
    EXPECT_EQ(folder.substr(folder.size() - name.size()), name);
    // The local application data exists in every profile; its folder for the
    // log is made only when a run begins.
    EXPECT_TRUE(fs::is_directory(fs::path(folder).parent_path())) << folder;
}

TEST_F(SupportLogWin32Test, MakesTheFolderAndMovesAFullFileOverOlderOnes) {
    ASSERT_TRUE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    SupportLogEndRun(log_);
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_NAME)), LINE);

    const std::string full = "{\"event\":\"result\"}\n" + std::string(SUPPORT_LOG_ROTATE_BYTES, ' ') + "\n";
    WriteWholeFile(Path(SUPPORT_LOG_NAME), full);
    WriteWholeFile(Path(SUPPORT_LOG_OLDER_NAME), "{\"event\":\"older\"}\n");
    WriteWholeFile(Path(SUPPORT_LOG_OLDEST_NAME), "{\"event\":\"oldest\"}\n");
    ASSERT_TRUE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    SupportLogEndRun(log_);
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_NAME)), LINE);
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_OLDER_NAME)), full);
    EXPECT_EQ(ReadWholeFile(Path(SUPPORT_LOG_OLDEST_NAME)), "{\"event\":\"older\"}\n");
}

TEST_F(SupportLogWin32Test, AFileWhereTheFolderShouldBeMeansNoLog) {
    WriteWholeFile(folder_.string(), "notes\n");
    EXPECT_FALSE(SupportLogBeginRun(log_));
    SupportLogPut(log_, LINE);
    SupportLogEndRun(log_);
    EXPECT_EQ(ReadWholeFile(folder_.string()), "notes\n");
}

}  // namespace
