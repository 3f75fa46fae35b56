// One JSON object per line: an event name, then keys in the order added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct JsonLine {
    std::string text;
};

JsonLine JsonEvent(const char* event, uint32_t elapsedMs);
void JsonAddString(JsonLine& line, const char* key, const std::string& value);
// Bytes as a string: printable ASCII as it is, everything else escaped.
void JsonAddBytes(JsonLine& line, const char* key, const uint8_t* bytes, size_t length);
// A wide string: ASCII as it is, everything else as \uXXXX.
void JsonAddWide(JsonLine& line, const char* key, const wchar_t* text, size_t length);
void JsonAddNumber(JsonLine& line, const char* key, int64_t value);
void JsonAddBool(JsonLine& line, const char* key, bool value);
void JsonAddNull(JsonLine& line, const char* key);
// Closes the object and writes it with a line end to `out`, flushed.
void JsonWrite(JsonLine& line, std::FILE* out);
