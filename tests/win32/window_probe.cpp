// Reports, for the Wine tests, what a window looks like from inside Windows:
//
//   window_probe.exe TITLE
//
// prints, for the top-level window with that exact title, in its own
// pixels:
//   window W H            its size, frame included
//   client W H            its client area's size
//   client_origin X Y     where the client area starts inside the window
//   dpi D                 the window's DPI
//   small_icon CX CY      the system's small-icon size
// Exits 1 when there is no such window. The probe declares itself DPI
// aware, so that Windows reports the sizes unscaled.
#include <windows.h>

#include <cstdio>

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

unsigned DpiOf(HWND window) {
    const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) return getDpiForWindow(window);
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return static_cast<unsigned>(dpi);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_probe.exe TITLE\n");
        return 2;
    }
    SetProcessDPIAware();
    HWND window = FindWindowA(nullptr, argv[1]);
    if (!window) {
        std::fprintf(stderr, "no window titled \"%s\"\n", argv[1]);
        return 1;
    }
    RECT frame = {};
    RECT client = {};
    POINT origin = {0, 0};
    if (!GetWindowRect(window, &frame) || !GetClientRect(window, &client) || !ClientToScreen(window, &origin)) {
        std::fprintf(stderr, "window geometry not readable\n");
        return 1;
    }
    std::printf("window %ld %ld\n", frame.right - frame.left, frame.bottom - frame.top);
    std::printf("client %ld %ld\n", client.right - client.left, client.bottom - client.top);
    std::printf("client_origin %ld %ld\n", origin.x - frame.left, origin.y - frame.top);
    std::printf("dpi %u\n", DpiOf(window));
    std::printf("small_icon %d %d\n", GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    return 0;
}
