// One line of a run log read back: the few keys that --show-log uses, taken
// from the line by nlohmann-json's SAX interface, which keeps no tree of the
// line. A line is taken only when it is one whole JSON object (RFC 8259, as
// the library reads it: no comments, no trailing commas, strings of valid
// UTF-8) nested no deeper than LOG_LINE_MAX_DEPTH.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Objects and arrays inside one another, the line's own object counted.
constexpr int LOG_LINE_MAX_DEPTH = 8;

struct LogLine {
    // The line's string, number and bool values, with their keys: those of
    // the line's own object ("label") and of the objects it holds
    // ("failure.cause"). Strings are decoded (UTF-8), numbers and bools as
    // written; null and arrays are left out, so a key is absent where its
    // value was null.
    std::vector<std::pair<std::string, std::string>> values;
    // With `rewrite`: the line again as compact JSON in ASCII, every string
    // written by the program's own JSON writer (runlog/json.h), ending with
    // a line end.
    std::string rewritten;

    // The value of `key`, or `fallback` when it is absent.
    std::string Get(std::string_view key, std::string_view fallback = {}) const;
    bool Has(std::string_view key) const;
};

// Reads `length` bytes at `data` (one line without its line end; a NUL is a
// byte like any other) into `line`. False when they are not one whole JSON
// object as above.
bool ReadLogLine(const char* data, size_t length, bool rewrite, LogLine* line);
