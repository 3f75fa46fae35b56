#include "console/output_errors.h"

#include <cerrno>
#include <cstring>

void FlushChecked(std::FILE* out) {
    static bool noted = false;
    if (std::fflush(out) == 0 && !std::ferror(out)) return;
    const int error = errno;
    std::clearerr(out);
    if (noted || out == stderr) return;
    noted = true;
    std::fprintf(stderr,
                 "lumaris-update: %s cannot be written (%s): the update goes on; its exit code tells the result\n",
                 out == stdout ? "standard output" : "the output file", std::strerror(error));
    std::fflush(stderr);
}
