// Reads one JSON line of a run log back: an object whose values are kept
// as text (strings decoded, other values as written), nested objects parsed
// the same way. Small and strict: anything that is not one whole JSON
// object is refused.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Object, Array };
    Type type = Type::Null;
    std::string text;                                        // a string decoded to UTF-8; a number or bool as written
    std::vector<std::pair<std::string, JsonValue>> members;  // an object's keys in order
};

// Parses `line` (without its line end) as one JSON object.
bool JsonParseObject(const std::string& line, JsonValue* object);

// The member `key` of `object`, or nullptr.
const JsonValue* JsonMember(const JsonValue& object, const char* key);
// The member as text: a string's text, a number as written; `fallback` for
// null, absent or another type.
std::string JsonText(const JsonValue& object, const char* key, const std::string& fallback = std::string());
