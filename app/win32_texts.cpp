#include "app/win32_texts.h"

#include <cwchar>

#include "app/win32_dpi.h"

namespace {

// The record, oldest drawing first. The lock also spans each drawing, so a
// paint on the main thread and a text drawn by the worker never interleave:
// a paint that read the record before the worker's text arrived cannot draw
// the older text over it afterwards.
SRWLOCK gLock = SRWLOCK_INIT;
WindowText gTexts[WINDOW_TEXT_PLACES];
int gTextCount = 0;

// A window DC starts with the system font, made for the system DPI. On a
// monitor of another DPI a copy scaled to the window's DPI keeps the text in
// proportion to its scaled position and to the window. Returns nullptr when
// the DC's own font fits.
HFONT FontForDpi(HDC dc, unsigned dpi) {
    const int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
    if (systemDpi <= 0 || dpi == static_cast<unsigned>(systemDpi)) return nullptr;
    LOGFONTW font;
    if (GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font) != sizeof font) return nullptr;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), systemDpi);
    font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), systemDpi);
    return CreateFontIndirectW(&font);
}

// The DC's font for the window's DPI, selected for as long as it lives.
class DpiFont {
   public:
    DpiFont(HDC dc, unsigned dpi) : dc_(dc), font_(FontForDpi(dc, dpi)) {
        if (font_) previous_ = SelectObject(dc_, font_);
    }
    ~DpiFont() {
        if (!font_) return;
        SelectObject(dc_, previous_);
        DeleteObject(font_);
    }
    DpiFont(const DpiFont&) = delete;
    DpiFont& operator=(const DpiFont&) = delete;

   private:
    HDC dc_;
    HFONT font_;
    HGDIOBJ previous_ = nullptr;
};

void Remember(int x, int y, const wchar_t* text, int count) {
    int slot = 0;
    while (slot < gTextCount && (gTexts[slot].x != x || gTexts[slot].y != y)) ++slot;
    if (slot < gTextCount) {
        // Drawn again at a known place: it moves to the end, as the latest.
        for (int i = slot; i + 1 < gTextCount; ++i) gTexts[i] = gTexts[i + 1];
        --gTextCount;
    } else if (gTextCount == WINDOW_TEXT_PLACES) {
        return;
    }
    WindowText& placed = gTexts[gTextCount++];
    placed.x = x;
    placed.y = y;
    placed.count = count < 0 ? 0 : (count > WINDOW_TEXT_LENGTH ? WINDOW_TEXT_LENGTH : count);
    std::wmemcpy(placed.text, text, static_cast<size_t>(placed.count));
    placed.text[placed.count] = L'\0';
}

struct Painter {
    HDC dc;
    unsigned dpi;
};

// ExtTextOutW without options draws exactly what TextOutW draws; a trace of
// the program's calls then tells the worker's drawing (TextOutW) from the
// window's repainting.
void PaintText(const WindowText& placed, void* context) {
    const Painter& painter = *static_cast<const Painter*>(context);
    ExtTextOutW(painter.dc, ScaleForDpi(placed.x, painter.dpi), ScaleForDpi(placed.y, painter.dpi), 0, nullptr,
                placed.text, static_cast<UINT>(placed.count), nullptr);
}

}  // namespace

void DrawWindowText(HWND window, int x, int y, const wchar_t* text, int count) {
    AcquireSRWLockExclusive(&gLock);
    Remember(x, y, text, count);
    if (HDC dc = GetDC(window)) {
        const unsigned dpi = WindowDpi(window);
        const DpiFont font(dc, dpi);
        TextOutW(dc, ScaleForDpi(x, dpi), ScaleForDpi(y, dpi), text, count);
        ReleaseDC(window, dc);
    }
    ReleaseSRWLockExclusive(&gLock);
    PostMessageW(window, WM_APP_TEXTS_CHANGED, 0, 0);
}

void ReadWindowTexts(void (*use)(const WindowText& text, void* context), void* context) {
    AcquireSRWLockExclusive(&gLock);
    for (int i = 0; i < gTextCount; ++i) use(gTexts[i], context);
    ReleaseSRWLockExclusive(&gLock);
}

void PaintWindowTexts(HWND window, HDC dc) {
    Painter painter = {dc, WindowDpi(window)};
    const DpiFont font(dc, painter.dpi);
    ReadWindowTexts(PaintText, &painter);
}

void ForgetWindowTexts() {
    AcquireSRWLockExclusive(&gLock);
    gTextCount = 0;
    ReleaseSRWLockExclusive(&gLock);
}
