// The program's seams to the operating system: plain tables of function
// pointers, filled once at start-up by one platform (Win32, console or the
// test fake) before any worker runs. The core calls the operating system only
// through these tables.
#pragma once

#include <cstdint>

// Message box styles and answers, with the values the Windows API gives them.
constexpr unsigned BOX_OK = 0x00;
constexpr unsigned BOX_YESNO = 0x04;
constexpr unsigned BOX_ICONWARNING = 0x30;
constexpr int ANSWER_OK = 1;
constexpr int ANSWER_YES = 6;
constexpr int ANSWER_NO = 7;

struct UiSeam {
    // Shows a modal box with no owner window and returns its answer
    // (0 when the box could not be shown).
    int (*messageBox)(const wchar_t* text, const wchar_t* caption, unsigned style);
    // Draws `count` characters of `text` at (x, y) into the main window.
    void (*drawText)(int x, int y, const wchar_t* text, int count);
};

struct ClockSeam {
    // Milliseconds since some start; an unsigned 32-bit value that wraps.
    uint32_t (*tickCount)();
    void (*sleep)(uint32_t milliseconds);
};

// The one lock that serialises calls into the USB library.
struct LockSeam {
    void (*initialise)();
    void (*enter)();
    void (*leave)();
    void (*remove)();
};

// The process's standard output. The image loader writes one line to it on
// which nothing depends; a front end whose standard output is read by
// machines takes the line over.
struct OutputSeam {
    // Writes `line` and a line end.
    void (*writeLine)(const char* line);
};

// A request to end the run early (the console program's Ctrl+C). The core
// asks at the points where it can stop cleanly: before anything is written,
// and between the pages and before the signature once flash writing is
// unlocked. What a request means in each phase is the front end's choice.
struct StopSeam {
    bool (*requested)();
};

extern UiSeam gUi;
extern ClockSeam gClock;
extern LockSeam gUsbLock;
extern OutputSeam gOutput;
extern StopSeam gStop;

// The "Error" box that every step shows on failure: text "Error", caption
// one blank, OK button with the warning icon. Its answer is not used.
void ShowErrorBox();
