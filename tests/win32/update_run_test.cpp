// Closing the main window while an update runs: the close box, Alt+F4 and
// File > Exit wait for the worker, and the window closes by itself once the
// worker has ended, with the device fully updated. The worker runs on its
// own thread as Update Firmware starts it, against the simulated device.
#include "app/update_run.h"

#include <gtest/gtest.h>

#include "app/resource.h"
#include "platform/seams.h"
#include "tests/test_support.h"
#include "tests/win32/hidden_main_window.h"
#include "tests/win32/window_run_rig.h"

namespace {

struct CloseRequest {
    const char* what;
    UINT message;
    WPARAM wParam;
};
const CloseRequest CLOSE_REQUESTS[] = {
    {"the close box", WM_CLOSE, 0},
    {"File > Exit", WM_COMMAND, IDM_EXIT},
    {"Alt+F4 and the system menu's Close", WM_SYSCOMMAND, SC_CLOSE},
};

void Request(const CloseRequest& request) { SendMessageW(gMainWindow, request.message, request.wParam, 0); }
void UpdateFirmware() { SendMessageW(gMainWindow, WM_COMMAND, IDM_UPDATE, 0); }

class UpdateRunTest : public ::testing::Test {
   protected:
    void TearDown() override {
        // Whatever a test left running ends before the next one starts.
        ReleaseWorker();
        PumpUntilWorkerEnded();
        PumpMessages(20);
    }
};

TEST_F(UpdateRunTest, ACloseDuringARunWaitsForItsEndThenClosesOnce) {
    for (const CloseRequest& request : CLOSE_REQUESTS) {
        SimDevice* device = AttachOlderDevice();
        HoldWorkers();
        HiddenMainWindow main;
        ASSERT_TRUE(main.created);
        UpdateFirmware();
        ASSERT_TRUE(WorkerHeld()) << request.what;
        Request(request);
        Request(request);  // asked again: nothing more happens
        PumpMessages(50);
        EXPECT_TRUE(IsWindow(gMainWindow)) << request.what << ": the window stays while the worker runs";
        EXPECT_EQ(gQuitsSeen.count, 0) << request.what;

        ReleaseWorker();
        ASSERT_TRUE(PumpUntilWorkerEnded()) << request.what;
        PumpMessages(50);
        EXPECT_FALSE(IsWindow(gMainWindow)) << request.what << ": closed by itself after the worker";
        EXPECT_EQ(gQuitsSeen.count, 1) << request.what;
        EXPECT_EQ(gQuitsSeen.exitCode, 0u) << request.what;
        // The run went to its end: the whole image, a valid signature, the
        // run command.
        EXPECT_TRUE(DeviceHoldsImage(device, DemoImage(), RIG_OLD_FILL)) << request.what;
        EXPECT_TRUE(SimHasValidApp(device)) << request.what;
        EXPECT_EQ(device->runCommands, 1u) << request.what;
        EXPECT_FALSE(device->open) << request.what;
    }
}

TEST_F(UpdateRunTest, ACloseWithNoRunClosesAtOnce) {
    for (const bool afterARun : {false, true}) {
        for (const CloseRequest& request : CLOSE_REQUESTS) {
            const std::string what = std::string(request.what) + (afterARun ? ", after a run" : ", no run yet");
            AttachOlderDevice();
            HiddenMainWindow main;
            ASSERT_TRUE(main.created);
            if (afterARun) {
                UpdateFirmware();
                ASSERT_TRUE(PumpUntilWorkerEnded()) << what;
                ASSERT_TRUE(IsWindow(gMainWindow)) << what << ": a run alone does not close the window";
            }
            Request(request);
            EXPECT_FALSE(IsWindow(gMainWindow)) << what;
            PumpMessages(20);
            EXPECT_EQ(gQuitsSeen.count, 1) << what;
            EXPECT_EQ(gQuitsSeen.exitCode, 0u) << what;
        }
    }
}

}  // namespace
