#include "console/json.h"

#include "console/output_errors.h"

namespace {

void Key(JsonLine& line, const char* key) {
    line.text += ",\"";
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
    if (c > 0xFFFF) c = 0xFFFD;  // the program's own texts are ASCII
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
    out += escape;
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

void JsonWrite(JsonLine& line, std::FILE* out) {
    line.text += "}\n";
    std::fputs(line.text.c_str(), out);
    FlushChecked(out);
}
