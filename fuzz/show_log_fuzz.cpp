// --show-log's reader on any bytes: it never crashes, reads out of bounds
// or holds more than its bound, and what it prints is safe: in words no
// control byte but the line end, with --json one JSON object per line, in
// ASCII. The first byte chooses the form and --last; the rest is the file,
// given in pieces of a size the second byte chooses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "console/show_log.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& out) {
    std::fprintf(stderr, "show_log_fuzz: %s\n%s\n", what, out.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool json = (data[0] & 1) != 0;
    const uint32_t last = (data[0] >> 1) & 3;
    const size_t piece = 1 + data[1] % 97;
    const char* file = reinterpret_cast<const char*>(data + 2);
    const size_t length = size - 2;
    size_t at = 0;
    std::string out, error;
    const ShowLogSource source = [&](char* buffer, size_t capacity, size_t* got, std::string*) {
        const size_t n = std::min({capacity, piece, length - at});
        std::memcpy(buffer, file + at, n);
        at += n;
        *got = n;
        return true;
    };
    if (!ShowLogRead(
            source, last, json, [&](const std::string& text) { out += text; }, &error))
        Fail("a source that cannot fail failed", out);
    if (out.empty() || out.back() != '\n') Fail("the output does not end with a line end", out);
    for (unsigned char c : out) {
        if ((c < 0x20 && c != '\n') || c == 0x7F) Fail("a control byte reached the output", out);
        if (json && c >= 0x80) Fail("--json wrote a byte beyond ASCII", out);
    }
    if (json) {
        size_t start = 0;
        while (start < out.size()) {
            const size_t end = out.find('\n', start);
            if (!nlohmann::json::accept(out.begin() + static_cast<std::ptrdiff_t>(start),
                                        out.begin() + static_cast<std::ptrdiff_t>(end)))
                Fail("--json wrote a line that is not JSON", out);
            start = end + 1;
        }
    }
    return 0;
}
