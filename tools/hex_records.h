// Reading the HEX file's lines as records into the image they describe,
// with every record the program's loader would refuse reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/update_job.h"
#include "tools/findings.h"

// The image as the file describes it, with the line that last wrote each byte.
struct ParsedImage {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(IMAGE_SIZE, 0xFF);
    std::vector<size_t> lineOf = std::vector<size_t>(IMAGE_SIZE, 0);  // 0: not covered
    uint8_t pageMap[PAGE_COUNT] = {};
    size_t dataBytes = 0;  // distinct addresses covered
    size_t endLine = 0;    // line of the end record, 0 when there is none
    size_t lastLine = 0;
    std::string normalised;  // the records the program reads, one line feed each
};

// Reads text[start ..] as lines (LF or CR LF line ends) of records. A byte
// written twice with different values is refused; an exact repeat is not.
void ParseText(const std::string& text, size_t start, ParsedImage& image, Findings& findings);
