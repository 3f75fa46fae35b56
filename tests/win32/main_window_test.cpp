// The main window's handling of a move to a monitor of another DPI: it takes
// the rectangle Windows suggests, whatever its size at creation. Like every
// window, it needs a desktop: under Wine, an X display (scripts/wine-tests.sh
// starts one).
#include "app/main_window.h"

#include <gtest/gtest.h>

#include "tests/win32/hidden_main_window.h"

namespace {

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

TEST(MainWindow, TakesTheSuggestedRectangleWhenItsDpiChanges) {
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    const RECT before = WindowRect(gMainWindow);
    struct Case {
        unsigned dpi;
        RECT suggested;
    };
    const Case cases[] = {
        {144, {40, 30, 40 + 375, 30 + 300}},    // to a 150 % monitor
        {240, {700, 10, 700 + 625, 10 + 500}},  // to a 250 % monitor, further right
        {96, before},                           // back where it was
    };
    for (const Case& c : cases) {
        RECT suggested = c.suggested;
        EXPECT_EQ(
            SendMessageW(gMainWindow, WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), reinterpret_cast<LPARAM>(&suggested)), 0)
            << c.dpi;
        const RECT now = WindowRect(gMainWindow);
        EXPECT_EQ(now.left, c.suggested.left) << c.dpi;
        EXPECT_EQ(now.top, c.suggested.top) << c.dpi;
        EXPECT_EQ(now.right, c.suggested.right) << c.dpi;
        EXPECT_EQ(now.bottom, c.suggested.bottom) << c.dpi;
    }
}

}  // namespace
