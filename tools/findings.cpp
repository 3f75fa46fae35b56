#include "tools/findings.h"

#include <cstdarg>
#include <cstdio>

void Findings::Report(bool refusal, size_t line, const char* format, ...) {
    const bool error = refusal && check;
    const int shown = error ? errors++ : warnings++;
    if (shown >= MAX_SHOWN_FINDINGS) return;
    if (line > 0)
        std::fprintf(stderr, "%s:%zu: %s: ", path, line, error ? "error" : "warning");
    else
        std::fprintf(stderr, "%s: %s: ", path, error ? "error" : "warning");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void Findings::ReportHidden() const {
    if (errors > MAX_SHOWN_FINDINGS)
        std::fprintf(stderr, "%s: error: ... and %d more errors, not shown\n", path, errors - MAX_SHOWN_FINDINGS);
    if (warnings > MAX_SHOWN_FINDINGS)
        std::fprintf(stderr, "%s: warning: ... and %d more warnings, not shown\n", path, warnings - MAX_SHOWN_FINDINGS);
}
