// The texts of the main window. The worker draws each text straight into
// the window; the window keeps the last text drawn at each place and draws
// them again whenever it paints, so that covering, restoring or resizing the
// window does not wipe them out. Positions are given at 96 DPI and drawn at
// the window's DPI, with the font of a fresh window DC scaled to that DPI
// where the system's DPI differs. The same record is what the window tells
// screen readers (app/window_accessible.h).
#pragma once

#include <windows.h>

// The places remembered, and the characters remembered at one place: the
// program's texts are one line each, at two places.
constexpr int WINDOW_TEXT_PLACES = 8;
constexpr int WINDOW_TEXT_LENGTH = 64;

// Posted to the window by DrawWindowText, from the thread that drew, once
// the record holds the new text.
constexpr UINT WM_APP_TEXTS_CHANGED = WM_APP + 6;

// One remembered text: where it was drawn, at 96 DPI, and its characters.
struct WindowText {
    int x;
    int y;
    int count;
    wchar_t text[WINDOW_TEXT_LENGTH + 1];  // ends with a NUL, for traces and debuggers
};

// Draws `count` characters of `text` at (x, y) into `window`, with a device
// context of its own, and remembers it as the text at (x, y) in place of the
// one before. Any thread. A text longer than WINDOW_TEXT_LENGTH is drawn
// whole and remembered cut; a place beyond WINDOW_TEXT_PLACES is drawn only.
// Then posts WM_APP_TEXTS_CHANGED to `window`.
void DrawWindowText(HWND window, int x, int y, const wchar_t* text, int count);

// Calls `use` with each remembered text, in the order they were last drawn,
// while the record is locked: a text the worker draws meanwhile waits until
// the last call has returned. Painting and the window's accessible name both
// read the record through here, so they show the same texts.
void ReadWindowTexts(void (*use)(const WindowText& text, void* context), void* context);

// Draws the remembered texts into `dc`, a device context of `window` (the
// one BeginPaint gives), in the order they were last drawn. Main thread.
void PaintWindowTexts(HWND window, HDC dc);

// Forgets every text; the next paint draws none.
void ForgetWindowTexts();
