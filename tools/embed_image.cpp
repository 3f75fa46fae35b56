// The embedding tool: turns a firmware Intel HEX file into the C++ source of
// EMBEDDED_IMAGE, scrambled with UNSCRAMBLE_TABLE.
//
//   lumaris_embed_image [--no-check] [--raw FILE] [--facts FILE]
//                       [--version-header FILE] INPUT.hex OUTPUT.cpp
//
// It first checks the image the way the program checks it before
// programming, and refuses one that the program would refuse: a bad record
// checksum, a record type other than 00 and 01, a data byte outside
// 0x1400..0xFBFF, a highest used page other than 29, 62 or 124, a type byte
// outside 0x81..0x86, a highest used page above the last page of that type.
// Each refusal names the file, the line and the reason.
// It embeds the text normalised to what the program reads: upper-case
// digits, one LF between records, no extended address records of value 0.
//
// --no-check embeds the file's text as it is and reports the findings as
// warnings, so that the program's own refusals can be tried out.
// --raw FILE also writes the scrambled bytes alone to FILE.
// --facts FILE writes what the build embeds, one key=value per line:
//   type=0x83  version=1.00  first_page=10  last_page=62  pages=53
//   hex=<absolute path of INPUT.hex>
// --version-header FILE writes LUMARIS_FIRMWARE_VERSION_TEXT and
// LUMARIS_FIRMWARE_TYPE_TEXT as string macros, for C++ and resource scripts.
//
// A version is written as its two bytes in decimal, the low one with two
// digits: 01 0A is "1.10"; FF FF (also what uncovered version bytes read) is
// "no version".
//
// Exit status: 0 embedded, 1 refused, 2 bad use or a file error.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/hex_loader.h"
#include "image/image_signature.h"
#include "image/unscramble.h"

namespace {

constexpr uint8_t TYPE_DATA = 0x00;
constexpr uint8_t TYPE_END = 0x01;
constexpr uint8_t TYPE_EXTENDED_SEGMENT = 0x02;
constexpr uint8_t TYPE_EXTENDED_LINEAR = 0x04;
constexpr char SEPARATOR = '\n';

// The last page of each device type 0x81..0x86, as the device type table in
// devicelink/ holds it: the device keeps its signature and version there.
constexpr uint8_t TYPE_LAST_PAGE[] = {29, 29, 62, 124, 62, 124};

struct Findings {
    const char* path;
    bool check;  // refusals are errors (true) or warnings (false)
    int errors = 0;

    void Report(bool refusal, size_t line, const char* format, ...) __attribute__((format(printf, 4, 5))) {
        const bool error = refusal && check;
        if (error) ++errors;
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
};

// The image as the file describes it, with the line that last wrote each byte.
struct ParsedImage {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(IMAGE_SIZE, 0xFF);
    std::vector<size_t> lineOf = std::vector<size_t>(IMAGE_SIZE, 0);  // 0: not covered
    uint8_t pageMap[PAGE_COUNT] = {};
    size_t dataBytes = 0;  // distinct addresses covered
    size_t endLine = 0;    // line of the end record, 0 when there is none
    size_t lastLine = 0;
    std::string normalised;  // the records the program reads, one separator each
};

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Printable(char c) {
    char text[8];
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "0x%02X", u);
    return text;
}

// Checks one line as a record and, when it is one, adds it to the image.
// Returns false when the line holds no usable record.
bool ParseRecord(const std::string& line, size_t lineNumber, ParsedImage& image, Findings& findings) {
    if (line.empty()) {
        findings.Report(true, lineNumber, "empty line");
        return false;
    }
    if (line[0] != ':') {
        findings.Report(true, lineNumber, "the line does not start with a record mark ':'");
        return false;
    }
    for (size_t i = 1; i < line.size(); ++i) {
        if (DigitValue(line[i]) < 0) {
            findings.Report(true, lineNumber, "character %s at column %zu is not a hexadecimal digit",
                            Printable(line[i]).c_str(), i + 1);
            return false;
        }
    }
    const size_t digits = line.size() - 1;
    if (digits % 2 != 0 || digits < 10) {
        findings.Report(true, lineNumber, "a record needs an even number of at least 10 digits, this one has %zu",
                        digits);
        return false;
    }
    std::vector<uint8_t> bytes(digits / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(DigitValue(line[1 + 2 * i]) << 4 | DigitValue(line[2 + 2 * i]));
    const size_t count = bytes[0];
    if (bytes.size() != count + 5) {
        findings.Report(true, lineNumber, "the byte count says %zu data bytes, the record holds %zu", count,
                        bytes.size() - 5);
        return false;
    }
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0) {
        const unsigned expected = (bytes.back() - sum) & 0xFF;
        findings.Report(true, lineNumber, "bad record checksum 0x%02X, the record's bytes need 0x%02X", bytes.back(),
                        expected);
        return false;
    }

    const uint32_t address = uint32_t{bytes[1]} << 8 | bytes[2];
    const uint8_t type = bytes[3];
    std::string upper = line;
    for (char& c : upper)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');

    if (type == TYPE_EXTENDED_SEGMENT || type == TYPE_EXTENDED_LINEAR) {
        if (count == 2 && bytes[4] == 0 && bytes[5] == 0) return true;  // changes no address: dropped
        findings.Report(true, lineNumber,
                        "record type 0x%02X (extended address 0x%02X%02X): only 16-bit addresses are loaded", type,
                        count >= 1 ? bytes[4] : 0, count >= 2 ? bytes[5] : 0);
        return false;
    }
    if (type == TYPE_END) {
        image.endLine = lineNumber;
        image.normalised += upper + SEPARATOR;
        return true;
    }
    if (type != TYPE_DATA) {
        findings.Report(true, lineNumber, "record type 0x%02X: only 00 (data) and 01 (end) are loaded", type);
        return false;
    }
    for (size_t k = 0; k < count; ++k) {
        const uint32_t a = address + static_cast<uint32_t>(k);
        if (a < LOAD_FIRST_ADDRESS || a > LOAD_LAST_ADDRESS) {
            findings.Report(true, lineNumber, "data byte at address 0x%04X lies outside 0x%04X..0x%04X", a,
                            LOAD_FIRST_ADDRESS, LOAD_LAST_ADDRESS);
            return false;
        }
    }
    for (size_t k = 0; k < count; ++k) {
        const uint32_t a = address + static_cast<uint32_t>(k);
        if (image.lineOf[a] == 0) ++image.dataBytes;
        image.bytes[a] = bytes[4 + k];
        image.lineOf[a] = lineNumber;
        image.pageMap[a >> 9] = 1;
    }
    image.normalised += upper + SEPARATOR;
    return true;
}

// Reads the file's lines (LF or CR LF line ends) as records.
void ParseText(const std::string& text, ParsedImage& image, Findings& findings) {
    size_t start = 0;
    size_t lineNumber = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool lineFeed = end != std::string::npos;
        if (!lineFeed) end = text.size();
        std::string line = text.substr(start, end - start);
        start = lineFeed ? end + 1 : end;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (image.endLine != 0) {
            if (!line.empty())
                findings.Report(true, lineNumber, "a record after the end record (line %zu) would never be read",
                                image.endLine);
            continue;
        }
        ParseRecord(line, lineNumber, image, findings);
    }
    image.lastLine = lineNumber;
    if (image.endLine == 0) findings.Report(true, lineNumber, "no end record (:00000001FF): the file may be cut short");
}

struct Signature {
    size_t page = 0;
    bool typeCovered = false;
    bool versionCovered = false;
    uint8_t type = 0xFF, verHi = 0xFF, verLo = 0xFF;
};

// The checks that the program makes of a loaded image before it asks the
// device anything.
Signature CheckSignature(const ParsedImage& image, Findings& findings) {
    Signature s;
    s.page = HighestUsedPage(image.pageMap);
    if (s.page == 0) {
        findings.Report(true, image.endLine ? image.endLine : image.lastLine, "the image holds no data bytes");
        return s;
    }
    const size_t base = s.page * PAGE_SIZE;
    size_t highestLine = 0;
    for (size_t a = base + PAGE_SIZE; a-- > base;)
        if (image.lineOf[a] != 0) {
            highestLine = image.lineOf[a];
            break;
        }
    if (!IsSignaturePage(s.page)) {
        findings.Report(true, highestLine,
                        "the highest used page is %zu (0x%04zX..0x%04zX), it must be 29, 62 or 124, the last page "
                        "of a device type",
                        s.page, base, base + PAGE_SIZE - 1);
        return s;
    }
    const size_t typeAt = base + SIGNATURE_TYPE_OFFSET;
    s.type = image.bytes[typeAt];
    s.typeCovered = image.lineOf[typeAt] != 0;
    if (!s.typeCovered) {
        findings.Report(true, highestLine, "the device type byte at 0x%04zX (offset 0x1FB of page %zu) is not covered",
                        typeAt, s.page);
    } else if (!IsKnownImageType(s.type)) {
        findings.Report(true, image.lineOf[typeAt], "device type byte 0x%02X at 0x%04zX lies outside 0x%02X..0x%02X",
                        s.type, typeAt, IMAGE_TYPE_FIRST, IMAGE_TYPE_LAST);
    } else {
        const size_t typeLastPage = TYPE_LAST_PAGE[s.type - IMAGE_TYPE_FIRST];
        if (s.page > typeLastPage)
            findings.Report(true, highestLine,
                            "the highest used page %zu lies above page %zu, the last page of device type 0x%02X: "
                            "the updater refuses it",
                            s.page, typeLastPage, s.type);
        else if (s.page < typeLastPage)
            findings.Report(false, highestLine,
                            "the signature page %zu is not page %zu, where a device of type 0x%02X keeps its "
                            "signature and version",
                            s.page, typeLastPage, s.type);
    }
    const size_t hiAt = base + SIGNATURE_VERSION_HI_OFFSET, loAt = base + SIGNATURE_VERSION_LO_OFFSET;
    s.verHi = image.bytes[hiAt];
    s.verLo = image.bytes[loAt];
    s.versionCovered = image.lineOf[hiAt] != 0 && image.lineOf[loAt] != 0;
    if (!s.versionCovered)
        findings.Report(false, highestLine,
                        "the version bytes at 0x%04zX, 0x%04zX are not covered: the updater will ask before "
                        "programming this image",
                        hiAt, loAt);
    for (size_t a = base + DEVICE_SIGNATURE_OFFSET; a < base + PAGE_SIZE; ++a)
        if (image.lineOf[a] != 0 && image.bytes[a] != 0xFF)
            findings.Report(false, image.lineOf[a],
                            "byte 0x%02X at 0x%04zX: the device keeps its application signature in the last two "
                            "bytes of page %zu",
                            image.bytes[a], a, s.page);
    return s;
}

// The scrambled values for each plain byte, from the table.
struct Scrambler {
    std::vector<uint8_t> valuesFor[256];

    bool Build() {
        for (unsigned v = SCRAMBLED_FIRST; v <= SCRAMBLED_LAST; ++v)
            valuesFor[UnscrambleByte(static_cast<uint8_t>(v))].push_back(static_cast<uint8_t>(v));
        for (const char c : std::string("0123456789ABCDEF:\r\n"))
            if (valuesFor[static_cast<unsigned char>(c)].empty()) return false;
        return !valuesFor[0].empty();
    }

    // Characters that the table does not cover become zero bytes, which the
    // loader reads exactly as it reads any other character that is not ':'
    // or a hexadecimal digit.
    uint8_t Scramble(char c, size_t position) const {
        const auto& values = valuesFor[static_cast<unsigned char>(c)];
        const auto& choices = values.empty() ? valuesFor[0] : values;
        return choices[position % choices.size()];
    }
};

bool ReadFile(const char* path, std::string& text) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteFile(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".part";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) {
        std::remove(path.c_str());
        ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string Source(const std::vector<uint8_t>& scrambled, const char* inputPath) {
    std::string out;
    out += "// Generated by the embedding tool from ";
    out += BaseName(inputPath);
    out += ": the firmware image, scrambled. Do not edit.\n";
    out += "#include \"image/embedded_image.h\"\n\n";
    out += "const uint8_t EMBEDDED_IMAGE[] = {\n";
    char number[8];
    for (size_t i = 0; i < scrambled.size(); ++i) {
        std::snprintf(number, sizeof number, "%u,", unsigned{scrambled[i]});
        out += number;
        if (i % 24 == 23 || i + 1 == scrambled.size()) out += '\n';
    }
    out += "};\n";
    out += "const size_t EMBEDDED_IMAGE_LENGTH = sizeof EMBEDDED_IMAGE;\n";
    out += "uint8_t gEmbeddedPlainText[sizeof EMBEDDED_IMAGE];\n";
    return out;
}

// The version as the program's users read it: "1.10" for 01 0A.
std::string VersionText(uint8_t hi, uint8_t lo) {
    if (hi == 0xFF && lo == 0xFF) return "no version";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%u.%02u", unsigned{hi}, unsigned{lo});
    return buffer;
}

std::string AbsolutePath(const char* path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? std::string(path) : absolute.string();
}

struct Facts {
    uint8_t type = 0xFF;
    std::string version;
    size_t firstPage = 0, lastPage = 0, pages = 0;
    std::string hexPath;
};

std::string FactsText(const Facts& facts) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "type=0x%02X\nversion=%s\nfirst_page=%zu\nlast_page=%zu\npages=%zu\n",
                  unsigned{facts.type}, facts.version.c_str(), facts.firstPage, facts.lastPage, facts.pages);
    return buffer + std::string("hex=") + facts.hexPath + "\n";
}

std::string VersionHeader(const Facts& facts) {
    char type[8];
    std::snprintf(type, sizeof type, "0x%02X", unsigned{facts.type});
    return "// Generated by the embedding tool: the embedded firmware's version and\n"
           "// device type, for C++ and resource scripts. Do not edit.\n"
           "#ifndef LUMARIS_FIRMWARE_VERSION_H\n"
           "#define LUMARIS_FIRMWARE_VERSION_H\n"
           "#define LUMARIS_FIRMWARE_VERSION_TEXT \"" +
           facts.version +
           "\"\n"
           "#define LUMARIS_FIRMWARE_TYPE_TEXT \"" +
           type +
           "\"\n"
           "#endif\n";
}

int Usage() {
    std::fputs(
        "usage: lumaris_embed_image [--no-check] [--raw FILE] [--facts FILE] [--version-header FILE] INPUT.hex "
        "OUTPUT.cpp\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool check = true;
    const char* rawPath = nullptr;
    const char* factsPath = nullptr;
    const char* headerPath = nullptr;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-check") == 0) {
            check = false;
        } else if (std::strcmp(argv[i], "--raw") == 0 && i + 1 < argc) {
            rawPath = argv[++i];
        } else if (std::strcmp(argv[i], "--facts") == 0 && i + 1 < argc) {
            factsPath = argv[++i];
        } else if (std::strcmp(argv[i], "--version-header") == 0 && i + 1 < argc) {
            headerPath = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage();
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2) return Usage();
    const char* inputPath = paths[0];
    const std::string outputPath = paths[1];

    Scrambler scrambler;
    if (!scrambler.Build()) {
        std::fputs("lumaris_embed_image: the unscramble table does not cover every character of HEX text\n", stderr);
        return 2;
    }
    std::string text;
    if (!ReadFile(inputPath, text)) {
        std::fprintf(stderr, "%s: error: cannot read the file\n", inputPath);
        return 2;
    }

    Findings findings{inputPath, check};
    auto parsed = std::make_unique<ParsedImage>();
    ParseText(text, *parsed, findings);
    // A record refused above leaves the image incomplete: its page and
    // signature say nothing then.
    const Signature signature = findings.errors == 0 ? CheckSignature(*parsed, findings) : Signature{};
    if (findings.errors > 0) {
        std::fprintf(stderr, "%s: error: image refused, nothing embedded\n", inputPath);
        return 1;
    }

    // Checked images embed the normalised text; unchecked ones the file as it is.
    const std::string& plain = check ? parsed->normalised : text;
    std::vector<uint8_t> scrambled(plain.size());
    for (size_t i = 0; i < plain.size(); ++i) scrambled[i] = scrambler.Scramble(plain[i], i);
    if (scrambled.empty()) scrambled.push_back(scrambler.Scramble('\0', 0));  // no empty array

    // Load the result as the program will, from the scrambled bytes.
    std::vector<uint8_t> descrambled(scrambled.size());
    for (size_t i = 0; i < scrambled.size(); ++i) descrambled[i] = UnscrambleByte(scrambled[i]);
    auto job = std::make_unique<UpdateJob>();
    std::memset(job->ImageBuffer, 0xFF, sizeof job->ImageBuffer);
    std::memset(job->PageMap, 0, sizeof job->PageMap);
    const bool loaded = LoadHexText(*job, descrambled.data(), descrambled.size());
    if (check) {
        if (!loaded || std::memcmp(job->ImageBuffer, parsed->bytes.data(), IMAGE_SIZE) != 0 ||
            std::memcmp(job->PageMap, parsed->pageMap, PAGE_COUNT) != 0) {
            std::fprintf(stderr, "%s: error: internal: the program's loader reads another image than this tool\n",
                         inputPath);
            return 2;
        }
    } else if (!loaded) {
        findings.Report(true, 0, "the program's loader will not load this text");
    }

    if (!WriteFile(outputPath, Source(scrambled, inputPath))) {
        std::fprintf(stderr, "%s: error: cannot write\n", outputPath.c_str());
        return 2;
    }
    if (rawPath && !WriteFile(rawPath, std::string(scrambled.begin(), scrambled.end()))) {
        std::fprintf(stderr, "%s: error: cannot write\n", rawPath);
        return 2;
    }

    Facts facts;
    for (size_t p = 0; p < PAGE_COUNT; ++p)
        if (parsed->pageMap[p]) {
            if (facts.pages++ == 0) facts.firstPage = p;
        }
    facts.lastPage = signature.page;
    facts.type = signature.type;
    facts.version = VersionText(signature.verHi, signature.verLo);
    facts.hexPath = AbsolutePath(inputPath);
    if (factsPath && !WriteFile(factsPath, FactsText(facts))) {
        std::fprintf(stderr, "%s: error: cannot write\n", factsPath);
        return 2;
    }
    if (headerPath && !WriteFile(headerPath, VersionHeader(facts))) {
        std::fprintf(stderr, "%s: error: cannot write\n", headerPath);
        return 2;
    }
    const std::string version = facts.version == "no version" ? facts.version : "version " + facts.version;
    std::printf("%s: device type 0x%02X, %s, %zu pages used (%zu..%zu), %zu bytes; %zu text bytes embedded\n",
                BaseName(inputPath), unsigned{facts.type}, version.c_str(), facts.pages, facts.firstPage,
                facts.lastPage, parsed->dataBytes, scrambled.size());
    return 0;
}
