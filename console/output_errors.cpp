#include "console/output_errors.h"

#include <cerrno>
#include <cstring>

void FlushChecked(std::FILE* out) {
    // Standard error has nowhere to be noted; a failure of the log is noted
    // by the log itself (console/run_log.cpp).
    static bool stdoutNoted = false;
    if (std::fflush(out) == 0 && !std::ferror(out)) return;
    const int error = errno;
    std::clearerr(out);
    if (out != stdout || stdoutNoted) return;
    stdoutNoted = true;
    std::fprintf(stderr,
                 "lumaris-update: standard output cannot be written (%s): the update goes on; its exit code tells the "
                 "result\n",
                 std::strerror(error));
    std::fflush(stderr);
}
