#include "console/log_line.h"

#include <nlohmann/json.hpp>

#include "runlog/json.h"

namespace {

using Json = nlohmann::json;

// The keys --show-log reads, of the line's own object and of the failure
// objects it holds; the rest of a line is passed over without being kept.
constexpr std::string_view TOP_KEYS[] = {
    "event",     "run_id",       "utc",        "program",     "program_version",   "image_version",
    "label",     "label_hex",    "host",       "arch",        "usb_library",       "outcome",
    "exit_code", "device_state", "message",    "device_type", "installed_version", "attempts",
    "next",      "command",      "page",       "written",     "verified",          "cause",
    "window_ms", "byte",         "page_index",
};
constexpr std::string_view FAILURE_OBJECTS[] = {"failure"};

bool Listed(std::string_view key, const std::string_view* list, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (list[i].size() == key.size() && list[i][0] == key[0] && list[i] == key) return true;
    return false;
}

// The SAX handler: follows where it is in the line, keeps the values of the
// keys above and, when asked, writes the line out again.
class Reader {
   public:
    Reader(LogLine* line, bool rewrite) : line_(line), rewrite_(rewrite) {}

    bool null() { return Scalar(nullptr, "null"); }
    bool boolean(bool value) { return Scalar(value ? "true" : "false", value ? "true" : "false"); }
    bool number_integer(Json::number_integer_t value) {
        if (depth_ == 0) return false;
        if (!rewrite_ && !Wanted()) return true;  // most numbers: nothing to keep
        const std::string text = std::to_string(value);
        return Scalar(text.c_str(), text);
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        if (depth_ == 0) return false;
        if (!rewrite_ && !Wanted()) return true;
        const std::string text = std::to_string(value);
        return Scalar(text.c_str(), text);
    }
    bool number_float(Json::number_float_t, const Json::string_t& text) { return Scalar(text.c_str(), text); }
    bool string(Json::string_t& value) {
        if (depth_ == 0) return false;
        if (rewrite_) {
            BeforeValue();
            JsonAppendString(line_->rewritten, value);
        }
        if (Wanted()) Keep(value);
        return true;
    }
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) { return Open('{', true); }
    bool end_object() { return Close('}'); }
    bool start_array(std::size_t) { return Open('[', false); }
    bool end_array() { return Close(']'); }
    bool key(Json::string_t& key) {
        Level& level = levels_[depth_ - 1];
        if (rewrite_) {
            if (!level.first) line_->rewritten += ',';
            JsonAppendString(line_->rewritten, key);
            line_->rewritten += ':';
        }
        level.first = false;
        // Whether a value under this key is kept: one of the keys shown, in
        // the line's own object or in a failure object it holds.
        if (depth_ == 1) {
            level.wanted = Listed(key, TOP_KEYS, std::size(TOP_KEYS));
            level.holdsFailure = Listed(key, FAILURE_OBJECTS, std::size(FAILURE_OBJECTS));
        } else {
            level.wanted = depth_ == 2 && levels_[0].object && levels_[0].holdsFailure;
        }
        level.key = std::move(key);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

   private:
    struct Level {
        bool object = false;
        bool first = true;
        bool wanted = false;        // the value under `key` is kept
        bool holdsFailure = false;  // `key` names a failure object
        std::string key;
    };

    bool Wanted() const { return depth_ > 0 && levels_[depth_ - 1].object && levels_[depth_ - 1].wanted; }

    // In an array, a value after the first is preceded by a comma; in an
    // object, key() has written it.
    void BeforeValue() {
        if (depth_ == 0) return;
        Level& level = levels_[depth_ - 1];
        if (level.object) return;
        if (!level.first) line_->rewritten += ',';
        level.first = false;
    }

    bool Open(char bracket, bool object) {
        // The line is one object: nothing else at the top.
        if (depth_ == 0 && (!object || done_)) return false;
        if (depth_ >= LOG_LINE_MAX_DEPTH) return false;
        if (rewrite_) {
            BeforeValue();
            line_->rewritten += bracket;
        }
        Level& level = levels_[depth_];
        level.object = object;
        level.first = true;
        level.wanted = level.holdsFailure = false;
        ++depth_;
        return true;
    }

    bool Close(char bracket) {
        if (rewrite_) line_->rewritten += bracket;
        --depth_;
        if (depth_ == 0) done_ = true;
        return true;
    }

    // `kept` is the value's text (nullptr for null, which is not kept).
    bool Scalar(const char* kept, const std::string& written) {
        if (depth_ == 0) return false;
        if (rewrite_) {
            BeforeValue();
            line_->rewritten += written;
        }
        if (kept && Wanted()) {
            std::string text = kept;
            Keep(text);
        }
        return true;
    }

    // The value under the current key, which Wanted() keeps.
    void Keep(std::string& value) {
        if (depth_ == 1) {
            line_->values.emplace_back(levels_[0].key, std::move(value));
        } else {
            line_->values.emplace_back(levels_[0].key + "." + levels_[1].key, std::move(value));
        }
    }

    LogLine* line_;
    bool rewrite_;
    Level levels_[LOG_LINE_MAX_DEPTH];
    int depth_ = 0;
    bool done_ = false;
};

}  // namespace

std::string LogLine::Get(std::string_view key, std::string_view fallback) const {
    for (const auto& [name, value] : values)
        if (name == key) return value;
    return std::string(fallback);
}

bool LogLine::Has(std::string_view key) const {
    for (const auto& value : values)
        if (value.first == key) return true;
    return false;
}

bool ReadLogLine(const char* data, size_t length, bool rewrite, LogLine* line) {
    line->values.clear();
    line->rewritten.clear();
    Reader reader(line, rewrite);
    if (!Json::sax_parse(data, data + length, &reader, Json::input_format_t::json, true, false)) return false;
    if (rewrite) line->rewritten += '\n';
    return true;
}
