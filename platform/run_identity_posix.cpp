#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/run_identity.h"

std::string NewRunId() {
    unsigned char bits[16];
    size_t got = 0;
    while (got < sizeof bits) {
        const ssize_t n = getrandom(bits + got, sizeof bits - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::string();
        got += static_cast<size_t>(n);
    }
    std::string id;
    for (unsigned char b : bits) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", unsigned{b});
        id += pair;
    }
    return id;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}
