#include "console/json.h"

#include "console/output_errors.h"

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

// The code points of `bytes` when they are well-formed UTF-8 (no overlong
// form, no surrogate, nothing above U+10FFFF); false otherwise.
bool DecodeUtf8(const uint8_t* bytes, size_t length, std::u32string* out) {
    for (size_t i = 0; i < length;) {
        const uint8_t b = bytes[i];
        size_t extra = 0;
        uint32_t c = b;
        uint32_t least = 0;
        if (b < 0x80) {
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1Fu, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0Fu, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= length + (extra ? 0 : 1)) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            c = c << 6 | (bytes[i + k] & 0x3Fu);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out->push_back(c);
        i += extra + 1;
    }
    return true;
}

}  // namespace

JsonLine JsonEvent(const char* event, uint32_t elapsedMs) {
    JsonLine line;
    line.text = "{\"event\":\"";
    line.text += event;
    line.text += "\",\"t_ms\":" + std::to_string(elapsedMs);
    return line;
}

void JsonAddString(JsonLine& line, const char* key, const std::string& value) {
    JsonAddBytes(line, key, reinterpret_cast<const uint8_t*>(value.data()), value.size());
}

void JsonAddBytes(JsonLine& line, const char* key, const uint8_t* bytes, size_t length) {
    Key(line, key);
    line.text += '"';
    for (size_t i = 0; i < length; ++i) Escaped(line.text, bytes[i]);
    line.text += '"';
}

void JsonAddId(JsonLine& line, const char* key, const uint8_t* bytes, size_t length) {
    std::u32string text;
    if (DecodeUtf8(bytes, length, &text)) {
        Key(line, key);
        line.text += '"';
        for (char32_t c : text) Escaped(line.text, c);
        line.text += '"';
        return;
    }
    JsonAddBytes(line, key, bytes, length);
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", unsigned{bytes[i]});
        hex += pair;
    }
    JsonAddString(line, (std::string(key) + "_hex").c_str(), hex);
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

void JsonPut(const JsonLine& line, std::FILE* out) {
    std::fputs(line.text.c_str(), out);
    FlushChecked(out);
}

void JsonWrite(JsonLine& line, std::FILE* out) {
    JsonClose(line);
    JsonPut(line, out);
}
