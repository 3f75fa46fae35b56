// The embedding tool: turns a firmware Intel HEX file into the C++ source of
// EMBEDDED_IMAGE, scrambled with UNSCRAMBLE_TABLE.
//
//   lumaris_embed_image [--no-check] [--raw FILE] [--facts FILE]
//                       [--version-header FILE] INPUT.hex OUTPUT.cpp
//
// It first checks the file and the image the way the program checks the
// image before programming, and refuses one that the program would refuse:
// a bad record checksum, a record type other than 00 and 01, a data byte
// outside 0x1400..0xFBFF, a highest used page other than 29, 62 or 124, a
// type byte outside 0x81..0x86, a highest used page above the last page of
// that type, a byte other than 0xFF in the last two bytes of that page
// (where the device writes its signature). It also refuses what the program
// takes but a release must not ship: a highest used page below the last
// page of the image's type, which leaves the device's pages above it with
// their old content and its version unset. And it refuses a byte that two
// records give different values, a file above 1 MiB (before reading it), a
// byte-order mark, and lines that end with a carriage return alone. Each
// refusal names the file, the line and the reason; after 20 errors the rest
// are only counted.
// It embeds the text normalised to what the program reads: upper-case
// digits, one LF between records, no extended address records of value 0.
//
// --no-check embeds the file's text as it is and reports the findings as
// warnings, so that the program's own refusals can be tried out.
// --raw FILE also writes the scrambled bytes alone to FILE.
// --facts FILE writes what the build embeds, one key=value per line:
//   type=0x83  version=1.00  first_page=10  last_page=62  pages=53
//   sha256=<of the 64,512-byte flash image, 0xFF where the file sets nothing>
//   hex=<absolute path of INPUT.hex>
// --version-header FILE writes LUMARIS_FIRMWARE_VERSION_TEXT and
// LUMARIS_FIRMWARE_TYPE_TEXT as string macros, for C++ and resource scripts.
// No output may be the input file or another output, nor the temporary file
// that it is written through (its name + ".part").
//
// A version is written as its two bytes in decimal, the low one with two
// digits: 01 0A is "1.10"; FF FF (also what uncovered version bytes read) is
// "no version".
//
// Exit status: 0 embedded, 1 refused, 2 bad use (outputs that clash with the
// input or each other among it), a file name with a control character, a
// file that cannot be read or is above 1 MiB, or a write error.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/hex_loader.h"
#include "image/sha256.h"
#include "image/unscramble.h"
#include "tools/findings.h"
#include "tools/generated_files.h"
#include "tools/hex_records.h"
#include "tools/image_checks.h"
#include "tools/input_file.h"

namespace {

int Usage() {
    std::fputs(
        "usage: lumaris_embed_image [--no-check] [--raw FILE] [--facts FILE] [--version-header FILE] INPUT.hex "
        "OUTPUT.cpp\n",
        stderr);
    return 2;
}

// Loads the scrambled text as the program will; true when it yields the
// image the tool read.
bool LoaderAgrees(const std::vector<uint8_t>& scrambled, const ParsedImage& parsed, bool& loaded) {
    std::vector<uint8_t> descrambled(scrambled.size());
    for (size_t i = 0; i < scrambled.size(); ++i) descrambled[i] = UnscrambleByte(scrambled[i]);
    auto job = std::make_unique<UpdateJob>();
    std::memset(job->ImageBuffer, 0xFF, sizeof job->ImageBuffer);
    std::memset(job->PageMap, 0, sizeof job->PageMap);
    loaded = LoadHexText(*job, descrambled.data(), descrambled.size());
    return loaded && std::memcmp(job->ImageBuffer, parsed.bytes.data(), IMAGE_SIZE) == 0 &&
           std::memcmp(job->PageMap, parsed.pageMap, PAGE_COUNT) == 0;
}

FirmwareFacts FactsOf(const ParsedImage& parsed, const ImageSignature& signature, const char* inputPath) {
    FirmwareFacts facts;
    for (size_t p = 0; p < PAGE_COUNT; ++p)
        if (parsed.pageMap[p] && facts.pages++ == 0) facts.firstPage = p;
    facts.lastPage = signature.page;
    facts.type = signature.type;
    facts.verHi = signature.verHi;
    facts.verLo = signature.verLo;
    facts.sha256 = Sha256Hex(parsed.bytes.data(), parsed.bytes.size());
    facts.hexPath = AbsolutePath(inputPath);
    return facts;
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
    std::vector<OutputFile> outputs = {{"OUTPUT.cpp", outputPath}};
    if (rawPath) outputs.push_back({"--raw", rawPath});
    if (factsPath) outputs.push_back({"--facts", factsPath});
    if (headerPath) outputs.push_back({"--version-header", headerPath});
    if (!OutputsAreSeparate(inputPath, outputs)) return 2;

    Scrambler scrambler;
    if (!scrambler.Build()) {
        std::fputs("lumaris_embed_image: the unscramble table does not cover every character of HEX text\n", stderr);
        return 2;
    }
    std::string text;
    if (!CheckPathName(inputPath) || !ReadInputFile(inputPath, text)) return 2;

    Findings findings{inputPath, check};
    auto parsed = std::make_unique<ParsedImage>();
    ImageSignature signature;
    const size_t start = CheckTextEncoding(text, findings);
    if (start != std::string::npos) {
        ParseText(text, start, *parsed, findings);
        // A record refused above leaves the image incomplete: its page and
        // signature say nothing then.
        if (findings.errors == 0) signature = CheckSignature(*parsed, findings);
    }
    findings.ReportHidden();
    if (findings.errors > 0) {
        std::fprintf(stderr, "%s: error: image refused, nothing embedded\n", inputPath);
        return 1;
    }

    // Checked images embed the normalised text; unchecked ones the file as it is.
    const std::string& plain = check ? parsed->normalised : text;
    std::vector<uint8_t> scrambled(plain.size());
    for (size_t i = 0; i < plain.size(); ++i) scrambled[i] = scrambler.Scramble(plain[i], i);
    if (scrambled.empty()) scrambled.push_back(scrambler.Scramble('\0', 0));  // no empty array

    bool loaded = false;
    const bool agrees = LoaderAgrees(scrambled, *parsed, loaded);
    if (check && !agrees) {
        std::fprintf(stderr, "%s: error: internal: the program's loader reads another image than this tool\n",
                     inputPath);
        return 2;
    }
    if (!check && !loaded) findings.Report(true, 0, "the program's loader will not load this text");

    const FirmwareFacts facts = FactsOf(*parsed, signature, inputPath);
    std::vector<PlannedFile> files = {{outputPath, EmbeddedSource(scrambled, inputPath)}};
    if (rawPath) files.push_back({rawPath, std::string(scrambled.begin(), scrambled.end())});
    if (factsPath) files.push_back({factsPath, FactsText(facts)});
    if (headerPath) files.push_back({headerPath, VersionHeader(facts)});
    if (!WriteFiles(files)) return 2;

    const std::string version = VersionText(facts.verHi, facts.verLo);
    std::printf("%s: device type 0x%02X, %s%s, %zu pages used (%zu..%zu), %zu bytes; %zu text bytes embedded\n",
                BaseName(inputPath), unsigned{facts.type}, version == "no version" ? "" : "version ", version.c_str(),
                facts.pages, facts.firstPage, facts.lastPage, parsed->dataBytes, scrambled.size());
    return 0;
}
