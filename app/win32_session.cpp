#include "app/win32_session.h"

SessionCalls gSessionCalls = {nullptr, nullptr, nullptr};

namespace {

template <typename Function>
Function Resolve(const wchar_t* module, const char* name) {
    const HMODULE handle = GetModuleHandleW(module);
    if (!handle) return nullptr;
    // Through the generic function type, which GCC accepts between
    // function pointer types without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

}  // namespace

void LoadSessionCalls() {
    gSessionCalls = SessionCalls{
        .shutdownBlockReasonCreate =
            Resolve<decltype(SessionCalls::shutdownBlockReasonCreate)>(L"user32.dll", "ShutdownBlockReasonCreate"),
        .shutdownBlockReasonDestroy =
            Resolve<decltype(SessionCalls::shutdownBlockReasonDestroy)>(L"user32.dll", "ShutdownBlockReasonDestroy"),
        .setThreadExecutionState =
            Resolve<decltype(SessionCalls::setThreadExecutionState)>(L"kernel32.dll", "SetThreadExecutionState"),
    };
}

void HoldSession(HWND window, const wchar_t* reason) {
    if (gSessionCalls.shutdownBlockReasonCreate) gSessionCalls.shutdownBlockReasonCreate(window, reason);
    // ES_CONTINUOUS: in force until this thread changes it again.
    if (gSessionCalls.setThreadExecutionState)
        gSessionCalls.setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void ReleaseSession(HWND window) {
    if (gSessionCalls.shutdownBlockReasonDestroy) gSessionCalls.shutdownBlockReasonDestroy(window);
    if (gSessionCalls.setThreadExecutionState) gSessionCalls.setThreadExecutionState(ES_CONTINUOUS);
}
