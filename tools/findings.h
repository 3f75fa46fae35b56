// What the embedding tool has to say about an input file: errors (the image
// is refused) and warnings, each on one line that starts with file:line.
#pragma once

#include <cstddef>

// MinGW's C++ library prints through its own C99 printf (%zu and all), which
// the format check knows as gnu_printf.
#if defined(__MINGW32__)
#define FINDINGS_FORMAT gnu_printf
#else
#define FINDINGS_FORMAT printf
#endif

// At most this many errors, and as many warnings, are printed; the rest are
// counted and summed up in one line at the end.
constexpr int MAX_SHOWN_FINDINGS = 20;

struct Findings {
    const char* path;
    bool check;  // refusals are errors (true) or warnings (false)
    int errors = 0;
    int warnings = 0;

    // Reports a refusal (an error when checking, else a warning) or, with
    // refusal false, a warning. Line 0 names the file only.
    void Report(bool refusal, size_t line, const char* format, ...) __attribute__((format(FINDINGS_FORMAT, 4, 5)));

    // The "... and N more" lines for what was counted but not printed.
    void ReportHidden() const;
};
