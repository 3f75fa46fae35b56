// The main window's record of its texts: what a paint draws after a series
// of texts drawn by the worker, compared pixel by pixel with those texts
// drawn once, straight, with TextOutW. Needs a desktop (under Wine, an X
// display; scripts/wine-tests.sh starts one).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/win32_dpi.h"
#include "app/win32_texts.h"

namespace {

constexpr int WIDTH = 320;
constexpr int HEIGHT = 100;

struct Placed {
    int x;
    int y;
    std::wstring text;
};

// A white 32-bit bitmap selected into a memory DC, which starts with the
// same font as a fresh window DC.
class Canvas {
   public:
    Canvas() {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = WIDTH;
        info.bmiHeader.biHeight = -HEIGHT;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
        PatBlt(dc_, 0, 0, WIDTH, HEIGHT, WHITENESS);
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    std::vector<uint32_t> Pixels() const {
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits_);
        return std::vector<uint32_t>(p, p + WIDTH * HEIGHT);
    }
    size_t DarkPixels() const {
        size_t n = 0;
        for (uint32_t pixel : Pixels()) n += (pixel & 0xFF) < 0x80;
        return n;
    }

   private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    void* bits_ = nullptr;
};

struct HiddenWindow {
    HiddenWindow()
        : window(CreateWindowExW(0, L"STATIC", L"texts", WS_POPUP, 0, 0, WIDTH, HEIGHT, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr)) {}
    ~HiddenWindow() { DestroyWindow(window); }
    HWND window;
};

TEST(WindowTexts, APaintShowsTheLastTextDrawnAtEachPlace) {
    HiddenWindow hidden;
    ASSERT_NE(hidden.window, nullptr);
    const Placed working = {10, 10, L"Working                "};
    const Placed ok = {10, 10, L"OK           "};
    const Placed reboot = {10, 40, L"REBOOT                       "};
    const Placed error = {10, 10, L"ERROR            "};
    const Placed forget = {-1, -1, L""};  // a new run: the record starts again
    struct Case {
        const char* what;
        std::vector<Placed> drawn;
        std::vector<Placed> shown;
    };
    const std::vector<Case> cases = {
        {"a run that ends well", {working, ok, reboot}, {ok, reboot}},
        {"a run that ends in ERROR", {working, error}, {error}},
        {"a new run after one that ended well", {working, ok, reboot, forget, working}, {working}},
        {"a new run after one that ended in ERROR", {working, error, forget, working, ok, reboot}, {ok, reboot}},
        // Without trailing blanks, an older and longer text would show
        // through a shorter one drawn later at its place.
        {"a shorter text in place of a longer one", {{10, 10, L"Working"}, {10, 10, L"OK"}}, {{10, 10, L"OK"}}},
        // Overlapping texts at two places: the one drawn last lies on top.
        {"the latest drawing on top",
         {{10, 10, L"AAAAAAAA"}, {30, 12, L"BBBB"}, {10, 10, L"AAAAAAAA"}},
         {{30, 12, L"BBBB"}, {10, 10, L"AAAAAAAA"}}},
        {"nothing drawn yet", {}, {}},
    };
    for (const Case& c : cases) {
        ForgetWindowTexts();
        for (const Placed& p : c.drawn) {
            if (p.x < 0) {
                ForgetWindowTexts();
                continue;
            }
            DrawWindowText(hidden.window, p.x, p.y, p.text.c_str(), static_cast<int>(p.text.size()));
        }
        Canvas painted;
        PaintWindowTexts(hidden.window, painted.dc());
        // Positions are given at 96 DPI, as the worker gives them.
        const unsigned dpi = WindowDpi(hidden.window);
        Canvas expected;
        for (const Placed& p : c.shown)
            TextOutW(expected.dc(), ScaleForDpi(p.x, dpi), ScaleForDpi(p.y, dpi), p.text.c_str(),
                     static_cast<int>(p.text.size()));
        EXPECT_EQ(expected.DarkPixels() == 0, c.shown.empty()) << c.what << ": the expected picture shows its texts";
        EXPECT_TRUE(painted.Pixels() == expected.Pixels())
            << c.what << ": " << painted.DarkPixels() << " dark pixels painted, " << expected.DarkPixels()
            << " expected";
    }
    ForgetWindowTexts();
}

// A text longer than the record's buffer is remembered cut to
// WINDOW_TEXT_LENGTH characters: a paint draws those and nothing after them.
// The text is placed so that its first WINDOW_TEXT_LENGTH characters end at
// the left edge and whatever follows them would be in view.
TEST(WindowTexts, ATextLongerThanTheRecordIsRememberedCut) {
    HiddenWindow hidden;
    ASSERT_NE(hidden.window, nullptr);
    const std::wstring kept(WINDOW_TEXT_LENGTH, L'M');
    const std::wstring text = kept + L"OVERFLOW OVERFLOW";
    const unsigned dpi = WindowDpi(hidden.window);
    Canvas measure;
    SIZE extent = {};
    ASSERT_TRUE(GetTextExtentPoint32W(measure.dc(), kept.c_str(), static_cast<int>(kept.size()), &extent));
    const int x = 10 - MulDiv(extent.cx, 96, static_cast<int>(dpi));
    ForgetWindowTexts();
    DrawWindowText(hidden.window, x, 10, text.c_str(), static_cast<int>(text.size()));
    Canvas painted;
    PaintWindowTexts(hidden.window, painted.dc());
    Canvas expected;
    TextOutW(expected.dc(), ScaleForDpi(x, dpi), ScaleForDpi(10, dpi), kept.c_str(), static_cast<int>(kept.size()));
    Canvas whole;
    TextOutW(whole.dc(), ScaleForDpi(x, dpi), ScaleForDpi(10, dpi), text.c_str(), static_cast<int>(text.size()));
    EXPECT_FALSE(whole.Pixels() == expected.Pixels()) << "the characters after the cut are in view";
    EXPECT_TRUE(painted.Pixels() == expected.Pixels())
        << painted.DarkPixels() << " dark pixels painted, " << expected.DarkPixels() << " expected";
    ForgetWindowTexts();
}

}  // namespace
