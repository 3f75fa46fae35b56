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
// Appends `text` to `out` as a JSON string in ASCII: as JsonAddString's
// value, with its quotes.
void JsonAppendString(std::string& out, const std::string& text);
// Text: its characters when it is well-formed UTF-8, each one beyond
// printable ASCII as \uXXXX (a surrogate pair above U+FFFF), so that every
// JSON reader decodes what was given; otherwise as JsonAddBytes.
void JsonAddString(JsonLine& line, const char* key, const std::string& value);
// Bytes as a string: printable ASCII as it is, everything else escaped.
void JsonAddBytes(JsonLine& line, const char* key, const uint8_t* bytes, size_t length);
// Text from outside the program, a device's identification string or what
// the user typed: its characters when the bytes are well-formed UTF-8;
// otherwise as JsonAddBytes (non-ASCII bytes as \u00XX), followed by
// `key`_hex with the raw bytes in hexadecimal.
void JsonAddId(JsonLine& line, const char* key, const uint8_t* bytes, size_t length);
// A user's text (a label), as JsonAddId.
void JsonAddText(JsonLine& line, const char* key, const char* text);
// A wide string: ASCII as it is, everything else as \uXXXX.
void JsonAddWide(JsonLine& line, const char* key, const wchar_t* text, size_t length);
void JsonAddNumber(JsonLine& line, const char* key, int64_t value);
void JsonAddBool(JsonLine& line, const char* key, bool value);
void JsonAddNull(JsonLine& line, const char* key);
// `raw` as the value, already in JSON.
void JsonAddRaw(JsonLine& line, const char* key, const std::string& raw);
// An object to nest in a line (JsonAddObject), without event or time.
JsonLine JsonObject();
void JsonAddObject(JsonLine& line, const char* key, const JsonLine& object);
// Ends the object and the line.
void JsonClose(JsonLine& line);
