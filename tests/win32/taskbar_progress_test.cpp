// The taskbar button over whole runs of the window program: the worker on
// its own thread against the simulated device, its events posted to the
// hidden main window, and a recording ITaskbarList3 in place of the
// taskbar's.
#include "app/taskbar_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resource.h"
#include "app/update_run.h"
#include "app/window_events.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "tests/test_support.h"
#include "tests/win32/hidden_main_window.h"
#include "tests/win32/window_run_rig.h"

namespace {

// Records what the button is told, one line per call: a state ("none",
// "normal", "error", ...) or a value "k/n"; a call for another window says
// so.
class RecordingTaskbar : public ITaskbarList3 {
   public:
    std::vector<std::string> calls;

    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total) override {
        calls.push_back(For(window) + std::to_string(completed) + "/" + std::to_string(total));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG flags) override {
        const char* state = flags == TBPF_NOPROGRESS      ? "none"
                            : flags == TBPF_NORMAL        ? "normal"
                            : flags == TBPF_ERROR         ? "error"
                            : flags == TBPF_INDETERMINATE ? "indeterminate"
                            : flags == TBPF_PAUSED        ? "paused"
                                                          : "mixed flags";
        calls.push_back(For(window) + state);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return Unexpected("AddTab"); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return Unexpected("DeleteTab"); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return Unexpected("ActivateTab"); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return Unexpected("SetActiveAlt"); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return Unexpected("MarkFullscreenWindow"); }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return Unexpected("RegisterTab"); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return Unexpected("UnregisterTab"); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return Unexpected("SetTabOrder"); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return Unexpected("SetTabActive"); }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Unexpected("ThumbBarAddButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Unexpected("ThumbBarUpdateButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override {
        return Unexpected("ThumbBarSetImageList");
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return Unexpected("SetOverlayIcon"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return Unexpected("SetThumbnailTooltip"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return Unexpected("SetThumbnailClip"); }

    ULONG references = 1;

   private:
    static std::string For(HWND window) { return window == gMainWindow ? "" : "(another window) "; }
    HRESULT Unexpected(const char* what) {
        calls.push_back(std::string("unexpected ") + what);
        return E_NOTIMPL;
    }
};

std::vector<std::string> Values(uint32_t from, uint32_t to, uint32_t total) {
    std::vector<std::string> out;
    for (uint32_t k = from; k <= to; ++k) out.push_back(std::to_string(k) + "/" + std::to_string(total));
    return out;
}
std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

class TaskbarTest : public ::testing::Test {
   protected:
    void SetUp() override { InstallWindowEvents(); }
    void TearDown() override {
        TaskbarUse(nullptr, nullptr);
        gEvents = IgnoreUpdateEvent;
    }
};

// The demo image has 53 pages (10..62). A device that drops the second
// half of page 20 fails its checksum: the 11th page.
TEST_F(TaskbarTest, ShowsVerifiedPagesOfPagesToWriteThenTheOutcome) {
    enum Kind {
        Update,
        FailsAtPage20,
        Refused,
        RefusedInBootloader,
        SwitchedDeviceMissing,
        AnsweredNo,
        NoDevice,
        UnknownDevice
    };
    struct Case {
        const char* what;
        Kind kind;
        std::vector<std::string> run;        // what the button is told during the run
        std::vector<std::string> afterward;  // what a button made afresh after it is told
    };
    const std::vector<std::string> none = {"none"};
    const Case cases[] = {
        {"a whole update", Update, Join({none, {"normal"}, Values(0, 53, 53), none}), none},
        {"programming that fails at its 11th page",
         FailsAtPage20,
         Join({none, {"normal"}, Values(0, 10, 53), {"error", "10/53"}}),
         {"error", "10/53"}},
        {"an image refused before programming", Refused, Join({none, {"error", "1/1"}}), {"error", "1/1"}},
        {"an image refused by a device found in its bootloader",
         RefusedInBootloader,
         Join({none, {"error", "1/1"}}),
         {"error", "1/1"}},
        // The switched device is not back at the second discovery; another
        // one waits in its bootloader. Nothing is written: "ERROR".
        {"the switched device missing, another in its bootloader",
         SwitchedDeviceMissing,
         Join({none, {"error", "1/1"}}),
         {"error", "1/1"}},
        {"an older image declined with No", AnsweredNo, Join({none, none}), none},
        // Its box says "Error"; the window draws nothing, and neither does
        // the button.
        {"no device", NoDevice, Join({none, none}), none},
        // A device that is not a Lumaris device is no device found: as above.
        {"only an unknown device", UnknownDevice, Join({none, none}), none},
    };
    for (const Case& c : cases) {
        SimDevice* device = AttachOlderDevice();
        switch (c.kind) {
            case Update: break;
            case FailsAtPage20: device->dropsSecondHalfOfPage = 20; break;
            case Refused: SimSetDeviceType(device, 0x84); break;
            case RefusedInBootloader:
                SimSetDeviceType(device, 0x84);
                device->mode = device->backInMode = SimMode::Bootloader;
                break;
            case SwitchedDeviceMissing:
                device->rebootDelayMs = 3000;
                SimAddDevice();  // in its bootloader
                break;
            case AnsweredNo:
                SimSetInstalledApp(device, 0x02, 0x00, true);
                gFake.answers = {ANSWER_NO};
                break;
            case NoDevice: gSimBus.devices.clear(); break;
            case UnknownDevice: SimSetAppName(device, "LX-7 sensor"); break;
        }
        HiddenMainWindow main;
        ASSERT_TRUE(main.created);
        RecordingTaskbar button;
        TaskbarUse(gMainWindow, &button);
        button.calls.clear();  // what a button shows before any run is not this test's
        SendMessageW(gMainWindow, WM_COMMAND, IDM_UPDATE, 0);
        ASSERT_TRUE(PumpUntilWorkerEnded()) << c.what;
        EXPECT_EQ(button.calls, c.run) << c.what;

        RecordingTaskbar afresh;
        TaskbarUse(gMainWindow, &afresh);
        EXPECT_EQ(afresh.calls, c.afterward) << c.what;
        TaskbarUse(nullptr, nullptr);
        EXPECT_EQ(button.references, 1u) << c.what << ": every reference taken is given back";
        EXPECT_EQ(afresh.references, 1u) << c.what;
    }
}

}  // namespace
