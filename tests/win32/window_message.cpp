// Sends a top-level window, found by its exact title, what the Wine tests
// cannot send with keys (there is no window manager under Xvfb):
//
//   window_message.exe close TITLE    posts WM_CLOSE, as the close box and
//                                     Alt+F4 do
//   window_message.exe redraw TITLE   makes it erase and paint its client
//                                     area at once, as uncovering it does
//
// Exits 1 when there is no such window or the message cannot be sent, 2 on
// a wrong command line.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "close") != 0 && std::strcmp(argv[1], "redraw") != 0)) {
        std::fprintf(stderr, "usage: window_message.exe close|redraw TITLE\n");
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[2]);
    if (!window) {
        std::fprintf(stderr, "no window titled \"%s\"\n", argv[2]);
        return 1;
    }
    const bool sent = std::strcmp(argv[1], "close") == 0
                          ? PostMessageW(window, WM_CLOSE, 0, 0)
                          : RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (!sent) {
        std::fprintf(stderr, "%s: failed (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    return 0;
}
