#include "console/json_read.h"

#include <cstring>

#include "platform/plain_text.h"

namespace {

constexpr int MAX_DEPTH = 16;

struct Reader {
    const std::string& s;
    size_t at;

    void Blank() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    }
    bool Take(char c) {
        Blank();
        if (at >= s.size() || s[at] != c) return false;
        ++at;
        return true;
    }
    bool Word(const char* word) {
        const size_t length = std::strlen(word);
        if (s.compare(at, length, word) != 0) return false;
        at += length;
        return true;
    }
    static void PutUtf8(char32_t code, std::string* out) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out += static_cast<char>(0xE0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (code >> 18));
            *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool Hex4(char32_t* code) {
        if (at + 4 > s.size()) return false;
        char32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexDigitValue(s[at++]);
            if (digit < 0) return false;
            value = value << 4 | static_cast<char32_t>(digit);
        }
        *code = value;
        return true;
    }
    bool String(std::string* out) {
        if (!Take('"')) return false;
        while (at < s.size()) {
            const char c = s[at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at >= s.size()) return false;
            const char e = s[at++];
            switch (e) {
                case '"': *out += '"'; break;
                case '\\': *out += '\\'; break;
                case '/': *out += '/'; break;
                case 'b': *out += '\b'; break;
                case 'f': *out += '\f'; break;
                case 'n': *out += '\n'; break;
                case 'r': *out += '\r'; break;
                case 't': *out += '\t'; break;
                case 'u': {
                    char32_t code = 0;
                    if (!Hex4(&code)) return false;
                    if (code >= 0xD800 && code < 0xDC00 && s.compare(at, 2, "\\u") == 0) {
                        at += 2;
                        char32_t low = 0;
                        if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    PutUtf8(code, out);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool Number(std::string* out) {
        const size_t start = at;
        if (at < s.size() && s[at] == '-') ++at;
        bool digits = false;
        while (at < s.size() && ((s[at] >= '0' && s[at] <= '9') || s[at] == '.' || s[at] == 'e' || s[at] == 'E' ||
                                 s[at] == '+' || s[at] == '-')) {
            digits = true;
            ++at;
        }
        *out = s.substr(start, at - start);
        return digits;
    }
    bool Value(JsonValue* value, int depth) {
        if (depth > MAX_DEPTH) return false;
        Blank();
        if (at >= s.size()) return false;
        const char c = s[at];
        if (c == '{') return Object(value, depth + 1);
        if (c == '[') {
            ++at;
            value->type = JsonValue::Type::Array;
            if (Take(']')) return true;
            do {
                JsonValue item;
                if (!Value(&item, depth + 1)) return false;
                value->members.emplace_back(std::string(), std::move(item));
            } while (Take(','));
            return Take(']');
        }
        if (c == '"') {
            value->type = JsonValue::Type::String;
            return String(&value->text);
        }
        if (Word("null")) return true;
        if (Word("true") || Word("false")) {
            value->type = JsonValue::Type::Bool;
            value->text = s[at - 1] == 'e' && s[at - 2] == 'u' ? "true" : "false";
            return true;
        }
        value->type = JsonValue::Type::Number;
        return Number(&value->text);
    }
    bool Object(JsonValue* object, int depth) {
        if (!Take('{')) return false;
        object->type = JsonValue::Type::Object;
        if (Take('}')) return true;
        do {
            std::string key;
            Blank();
            if (!String(&key) || !Take(':')) return false;
            JsonValue value;
            if (!Value(&value, depth)) return false;
            object->members.emplace_back(std::move(key), std::move(value));
        } while (Take(','));
        return Take('}');
    }
};

}  // namespace

bool JsonParseObject(const std::string& line, JsonValue* object) {
    Reader reader{line, 0};
    *object = JsonValue();
    if (!reader.Object(object, 0)) return false;
    reader.Blank();
    return reader.at == line.size();
}

const JsonValue* JsonMember(const JsonValue& object, const char* key) {
    for (const auto& member : object.members) {
        if (member.first == key) return &member.second;
    }
    return nullptr;
}

std::string JsonText(const JsonValue& object, const char* key, const std::string& fallback) {
    const JsonValue* value = JsonMember(object, key);
    if (!value || (value->type != JsonValue::Type::String && value->type != JsonValue::Type::Number)) return fallback;
    return value->text;
}
