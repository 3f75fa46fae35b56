#include "runlog/json.h"

#include <cstring>

#include "runlog/text.h"

namespace {

void Key(JsonLine& line, const char* key) {
    if (line.text.back() != '{') line.text += ',';
    line.text += "\"";
    line.text += key;
    line.text += "\":";
}

void Escaped(std::string& out, uint32_t c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
        return;
    }
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c > 0xFFFF) {
        c -= 0x10000;
        Escaped(out, 0xD800 + (c >> 10));
        Escaped(out, 0xDC00 + (c & 0x3FF));
        return;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
    out += escape;
}

// The text of `bytes` as `key` when they are well-formed UTF-8; false (and
// nothing added) otherwise.
bool AddUtf8(JsonLine& line, const char* key, const uint8_t* bytes, size_t length) {
    std::u32string text;
    if (!DecodeUtf8(bytes, length, &text)) return false;
    Key(line, key);
    line.text += '"';
    for (char32_t c : text) Escaped(line.text, c);
    line.text += '"';
    return true;
}

}  // namespace

void JsonAppendString(std::string& out, const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    std::u32string decoded;
    out += '"';
    if (DecodeUtf8(bytes, text.size(), &decoded)) {
        for (char32_t c : decoded) Escaped(out, c);
    } else {
        for (size_t i = 0; i < text.size(); ++i) Escaped(out, bytes[i]);
    }
    out += '"';
}

JsonLine JsonEvent(const char* event, uint32_t elapsedMs) {
    JsonLine line;
    line.text = "{\"event\":\"";
    line.text += event;
    line.text += "\",\"t_ms\":" + std::to_string(elapsedMs);
    return line;
}

void JsonAddString(JsonLine& line, const char* key, const std::string& value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(value.data());
    if (!AddUtf8(line, key, bytes, value.size())) JsonAddBytes(line, key, bytes, value.size());
}

void JsonAddBytes(JsonLine& line, const char* key, const uint8_t* bytes, size_t length) {
    Key(line, key);
    line.text += '"';
    for (size_t i = 0; i < length; ++i) Escaped(line.text, bytes[i]);
    line.text += '"';
}

void JsonAddId(JsonLine& line, const char* key, const uint8_t* bytes, size_t length) {
    if (AddUtf8(line, key, bytes, length)) return;
    JsonAddBytes(line, key, bytes, length);
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", unsigned{bytes[i]});
        hex += pair;
    }
    JsonAddString(line, (std::string(key) + "_hex").c_str(), hex);
}

void JsonAddText(JsonLine& line, const char* key, const char* text) {
    JsonAddId(line, key, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

void JsonAddWide(JsonLine& line, const char* key, const wchar_t* text, size_t length) {
    Key(line, key);
    line.text += '"';
    for (size_t i = 0; i < length; ++i) Escaped(line.text, static_cast<uint32_t>(text[i]));
    line.text += '"';
}

void JsonAddNumber(JsonLine& line, const char* key, int64_t value) {
    Key(line, key);
    line.text += std::to_string(value);
}

void JsonAddBool(JsonLine& line, const char* key, bool value) {
    Key(line, key);
    line.text += value ? "true" : "false";
}

void JsonAddNull(JsonLine& line, const char* key) {
    Key(line, key);
    line.text += "null";
}

void JsonAddRaw(JsonLine& line, const char* key, const std::string& raw) {
    Key(line, key);
    line.text += raw;
}

JsonLine JsonObject() { return JsonLine{"{"}; }

void JsonAddObject(JsonLine& line, const char* key, const JsonLine& object) {
    Key(line, key);
    line.text += object.text;
    line.text += '}';
}

void JsonClose(JsonLine& line) { line.text += "}\n"; }
