#include <windows.h>
// ntsecapi.h takes its types from windows.h.
#include <ntsecapi.h>

#include <cstdio>

#include "platform/run_identity.h"

std::string NewRunId() {
    unsigned char bits[16];
    // The system's random source through advapi32.dll, which the programs
    // may import (bcrypt.dll is not among the DLLs a release allows).
    if (!RtlGenRandom(bits, sizeof bits)) return std::string();
    std::string id;
    for (unsigned char b : bits) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", unsigned{b});
        id += pair;
    }
    return id;
}

std::string HostName() {
    wchar_t name[256];
    DWORD length = sizeof name / sizeof name[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length) || length == 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    return out;
}
