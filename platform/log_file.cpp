#include "platform/log_file.h"

#include <cstring>

namespace {

// Every line the program writes starts like this.
constexpr char LOG_LINE_START[] = "{\"event\":\"";

}  // namespace

bool LogFileHeadIsLog(const char* head, size_t length, std::string* error) {
    const size_t wanted = sizeof LOG_LINE_START - 1;
    if (length >= wanted && std::memcmp(head, LOG_LINE_START, wanted) == 0) return true;
    if (length > 0 && head[0] == ':') {
        *error = "it looks like an Intel HEX file (it starts with ':'), not a log";
    } else {
        *error = "it is not empty and does not start with a JSON line of this program: not a log";
    }
    return false;
}
