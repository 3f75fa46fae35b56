#include "app/taskbar_progress.h"

namespace {

enum class Shown { Nothing, Progress, Error };

struct ButtonState {
    Shown shown;
    ULONGLONG verified;
    ULONGLONG total;
};

ITaskbarList3* gList = nullptr;
HWND gWindow = nullptr;
ButtonState gState = {Shown::Nothing, 0, 0};

void ShowState() {
    if (!gList) return;
    switch (gState.shown) {
        case Shown::Nothing: gList->SetProgressState(gWindow, TBPF_NOPROGRESS); return;
        case Shown::Progress: gList->SetProgressState(gWindow, TBPF_NORMAL); break;
        case Shown::Error: gList->SetProgressState(gWindow, TBPF_ERROR); break;
    }
    gList->SetProgressValue(gWindow, gState.verified, gState.total);
}

}  // namespace

void TaskbarUse(HWND window, ITaskbarList3* list) {
    if (list) list->AddRef();
    if (gList) gList->Release();
    gList = list;
    gWindow = window;
    ShowState();
}

void TaskbarButtonCreated(HWND window) {
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list))))
        return;
    if (SUCCEEDED(list->HrInit())) TaskbarUse(window, list);
    list->Release();
}

void TaskbarRunStarted() {
    gState = {Shown::Nothing, 0, 0};
    ShowState();
}

void TaskbarProgrammingStarted(uint32_t pages) {
    gState = {Shown::Progress, 0, pages};
    ShowState();
}

void TaskbarPageProgrammed(bool verified) {
    if (!verified || gState.shown != Shown::Progress) return;
    ++gState.verified;
    if (gList) gList->SetProgressValue(gWindow, gState.verified, gState.total);
}

void TaskbarRunEnded(bool endedInError) {
    if (!endedInError) {
        gState = {Shown::Nothing, 0, 0};
    } else if (gState.total == 0) {
        gState = {Shown::Error, 1, 1};
    } else {
        gState.shown = Shown::Error;
    }
    ShowState();
}
