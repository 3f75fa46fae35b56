#include "tools/input_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

bool CheckPathName(const char* path) {
    for (const char* c = path; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u == 0x7F) {
            std::fprintf(stderr,
                         "lumaris_embed_image: error: the input file's name holds the control character 0x%02X at "
                         "position %zu: rename the file\n",
                         u, static_cast<size_t>(c - path) + 1);
            return false;
        }
    }
    return true;
}

namespace {

// size: "104857600" when known, else "more than 1048576".
void ReportTooLarge(const char* path, const std::string& size) {
    std::fprintf(stderr,
                 "%s: error: the file holds %s bytes, more than a firmware HEX file can (at most %zu bytes, 1 MiB; a "
                 "full image's HEX is under 200 KB)\n",
                 path, size.c_str(), MAX_INPUT_BYTES);
}

}  // namespace

bool ReadInputFile(const char* path, std::string& text) {
    // Regular files are measured before they are opened; anything else (a
    // pipe, a device) is cut off at the limit while it is read.
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > MAX_INPUT_BYTES) {
        ReportTooLarge(path, std::to_string(size));
        return false;
    }
    errno = 0;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "%s: error: cannot read the file: %s\n", path, std::strerror(errno));
        return false;
    }
    char buffer[65536];
    size_t n;
    while (text.size() <= MAX_INPUT_BYTES && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const int readError = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (readError != 0) {
        std::fprintf(stderr, "%s: error: cannot read the file: %s\n", path, std::strerror(readError));
        return false;
    }
    if (text.size() > MAX_INPUT_BYTES) {
        ReportTooLarge(path, "more than " + std::to_string(MAX_INPUT_BYTES));
        return false;
    }
    return true;
}

size_t CheckTextEncoding(const std::string& text, Findings& findings) {
    if (text.empty()) {
        findings.Report(true, 0, "the file is empty");
        return std::string::npos;
    }
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
        findings.Report(true, 1,
                        "the file is UTF-16 text (byte-order mark %02X %02X): save it as plain ASCII text, one byte "
                        "per character",
                        static_cast<unsigned char>(text[0]), static_cast<unsigned char>(text[1]));
        return std::string::npos;
    }
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        findings.Report(true, 1,
                        "the file starts with a UTF-8 byte-order mark (EF BB BF): save it as plain ASCII text "
                        "without one");
        start = 3;
    }
    // The first line end tells how the lines end: a carriage return alone
    // there makes the whole file one line.
    const size_t lineEnd = text.find_first_of("\r\n", start);
    if (lineEnd != std::string::npos && text[lineEnd] == '\r' &&
        (lineEnd + 1 == text.size() || text[lineEnd + 1] != '\n')) {
        findings.Report(true, 1,
                        "the lines end with a carriage return alone (CR, 0x0D, without a line feed): save the file "
                        "with LF or CR LF line ends");
        return std::string::npos;
    }
    return start;
}
