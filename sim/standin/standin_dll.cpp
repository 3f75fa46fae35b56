// A stand-in for the USB device library, built from the simulated device.
// It exports the library's eight operations by ordinal only (see the .def
// files) and reads its scenario from the file named by the environment
// variable LUMARIS_STANDIN_SCENARIO (format in scenario.h). Beside the DLL
// it writes:
//   standin-calls.log     one line per call: call number, tick, thread,
//                         operation, arguments, result, status; a run of
//                         identical receive-queue queries is one line
//   standin-flash-N.bin   the flash of device N (64,512 bytes)
//   standin-flash-N.initial.bin   the same as the scenario set it up
//   standin-state.txt     per device: mode, signature, version, counters;
//                         then the count of calls that broke the library's
//                         rules (each is also a "violation:" line in the log)
// The flash and state files are written after every close and when the
// library is unloaded, so they hold the device as the program left it.
#include <windows.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "sim/sim_device.h"
#include "sim/sim_faults.h"
#include "sim/standin/scenario.h"
#include "usb/usb_library.h"

namespace {

constexpr UsbStatus SCENARIO_BROKEN = 0xE0;
constexpr UsbStatus RULE_BROKEN = 0xE1;  // a call that breaks the library's rules

CRITICAL_SECTION gLock;
std::wstring gDir;  // the DLL's folder, with its trailing separator
HANDLE gLog = INVALID_HANDLE_VALUE;
bool gStarted = false;
bool gBroken = false;
// A run of receive-queue queries that all gave the same answer.
std::string gPollLine;
uint32_t gPollFirst = 0;
uint32_t gPollCount = 0;

uint32_t DllNow() { return GetTickCount(); }

void WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void LogLine(const std::string& line) {
    if (gLog != INVALID_HANDLE_VALUE) WriteAll(gLog, line + "\r\n");
}

void FlushPolls() {
    if (gPollCount == 0) return;
    if (gPollCount == 1)
        LogLine(Format("#%" PRIu32 " ", gPollFirst) + gPollLine);
    else
        LogLine(Format("#%" PRIu32 "..#%" PRIu32 " ", gPollFirst, gPollFirst + gPollCount - 1) + gPollLine +
                Format(" (x%" PRIu32 ")", gPollCount));
    gPollCount = 0;
}

// Each line starts with the call's number as the simulated bus counts it,
// the number a scenario's fault refers to.
void LogCall(const std::string& text) {
    FlushPolls();
    LogLine(Format("#%" PRIu32 " ", gSimBus.callCount) + text);
}

std::string Prefix(const char* op) { return Format("t=%" PRIu32 " thread=%lu %s", DllNow(), GetCurrentThreadId(), op); }

std::string HandleText(DeviceHandle handle) { return Format("0x%" PRIXPTR, static_cast<uintptr_t>(handle)); }

std::string Bytes(const void* data, uint32_t count) {
    std::string out = "[";
    const auto* p = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < count; ++i) out += Format(i ? " %02X" : "%02X", p[i]);
    return out + "]";
}

std::string Printable(const uint8_t* text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < limit && text[i]; ++i)
        out += (text[i] >= 0x20 && text[i] < 0x7F && text[i] != '"') ? static_cast<char>(text[i]) : '?';
    return out;
}

// UTF-8 (the scenario's text) and UTF-16 (Windows' paths) of one path.
std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Reads a whole file by its UTF-8 path.
bool ReadTextFileWide(const std::string& path, std::string* text) {
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) text->append(chunk, got);
    CloseHandle(f);
    return true;
}

void WriteFileWhole(const std::string& name, const void* data, size_t size) {
    HANDLE f = CreateFileW((gDir + Wide(name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(f);
}

// The devices as the program left them.
void DumpDevices() {
    std::string state;
    for (size_t i = 0; i < gSimBus.devices.size(); ++i) {
        const SimDevice* d = &gSimBus.devices[i];
        WriteFileWhole(Format("standin-flash-%u.bin", static_cast<unsigned>(i)), d->flash, sizeof d->flash);
        const size_t versionAt = static_cast<size_t>(d->lastPage) * SIM_PAGE_SIZE + SIM_VERSION_OFFSET;
        state +=
            Format("device %u mode=%s present=%s signature=0x%04X version=0x%02X%02X lastPage=%u erased=%" PRIu32
                   " halves=%" PRIu32 " checksums=%" PRIu32 " runs=%" PRIu32 " switches=%" PRIu32 "\r\n",
                   static_cast<unsigned>(i), d->backInMode == SimMode::Application ? "application" : "bootloader",
                   d->present ? "yes" : "no", SimSignature(d), d->flash[versionAt], d->flash[versionAt + 1],
                   d->lastPage, d->pagesErased, d->halvesWritten, d->checksumsSent, d->runCommands, d->modeSwitches);
    }
    state += Format("violations=%" PRIu32 "\r\n", gSimBus.violations);
    WriteFileWhole("standin-state.txt", state.data(), state.size());
}

// A call that breaks the library's rules (a null output pointer, a
// non-zero last argument of read or write) fails without effect.
void LogViolation(const char* what) { LogCall(Prefix("violation:") + " " + what); }

bool Start() {
    gLog = CreateFileW((gDir + L"standin-calls.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    SimReset(DllNow);
    gSimBus.recordCalls = false;  // this library keeps its own log
    gSimBus.violation = LogViolation;

    // The scenario's path, in whatever characters the folder is named.
    std::wstring widePath(32768, L'\0');
    const DWORD length =
        GetEnvironmentVariableW(L"LUMARIS_STANDIN_SCENARIO", widePath.data(), static_cast<DWORD>(widePath.size()));
    if (length == 0 || length >= widePath.size()) {
        LogLine("scenario error: LUMARIS_STANDIN_SCENARIO is not set");
        return false;
    }
    widePath.resize(length);
    const std::string path = Utf8(widePath);
    std::string text;
    if (!ReadTextFileWide(path, &text)) {
        LogLine("scenario error: cannot read " + path);
        return false;
    }

    std::string base = path;
    const size_t slash = base.find_last_of("\\/");
    base = slash == std::string::npos ? "" : base.substr(0, slash + 1);
    Scenario scenario;
    std::string error;
    if (!ParseScenario(text, base, &scenario, &error)) {
        LogLine("scenario error: " + error);
        return false;
    }
    for (size_t i = 0; i < scenario.devices.size(); ++i) {
        const DeviceScenario& s = scenario.devices[i];
        SimDevice* d = SimAddDevice();
        d->mode = s.mode;
        d->backInMode = s.mode;
        SimSetAppName(d, s.name.c_str());
        SimSetDeviceType(d, s.deviceType);
        if (!FillFlash(s, d->flash, ReadTextFileWide, &error)) {
            LogLine("scenario error: device " + std::to_string(i) + ": " + error);
            return false;
        }
        if (s.installed) SimSetInstalledApp(d, s.installedHi, s.installedLo, s.installedValid);
        d->idReadable = s.idReadable;
        d->probeReadable = s.probeReadable;
        d->fillWholeStringBuffer = s.fillString;
        d->replyDelayMs = s.replyDelayMs;
        d->eraseDelayMs = s.eraseDelayMs;
        d->rebootDelayMs = s.rebootDelayMs;
        d->replyToModeSwitch = s.modeSwitchReply;
        if (s.arrivesAfterRestartMs != 0) {
            d->arrivesAfterRestartMs = s.arrivesAfterRestartMs;
            d->present = false;
        }
    }
    SimSetFault(scenario.faultKind, scenario.faultCall);
    for (size_t i = 0; i < gSimBus.devices.size(); ++i) {
        const SimDevice* d = &gSimBus.devices[i];
        WriteFileWhole(Format("standin-flash-%u.initial.bin", static_cast<unsigned>(i)), d->flash, sizeof d->flash);
    }
    LogLine(Format("scenario: %s, %u device(s), fault %s at call %" PRIu32, path,
                   static_cast<unsigned>(scenario.devices.size()), SimFaultName(scenario.faultKind),
                   scenario.faultCall));
    DumpDevices();
    return true;
}

// Every operation runs under the library's own lock, after the scenario
// has been loaded once. Returns false when the scenario could not be used.
struct Call {
    Call() {
        EnterCriticalSection(&gLock);
        if (!gStarted) {
            gStarted = true;
            gBroken = !Start();
        }
    }
    ~Call() { LeaveCriticalSection(&gLock); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
};

}  // namespace

extern "C" {

UsbStatus USB_CALL StandinDeviceCount(uint32_t* count) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.getDeviceCount(count);
    LogCall(Prefix("device-count") + Format(" count=%" PRIu32 " -> %d", status == USB_OK ? *count : 0, status));
    return status;
}

UsbStatus USB_CALL StandinDeviceString(uint32_t index, void* buffer, uint32_t selector) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.getDeviceString(index, buffer, selector);
    const std::string text = status == USB_OK ? Printable(static_cast<const uint8_t*>(buffer), DEVICE_STRING_SIZE) : "";
    LogCall(Prefix("device-string") +
            Format(" index=%" PRIu32 " selector=%" PRIu32 " \"%s\" -> %d", index, selector, text.c_str(), status));
    return status;
}

UsbStatus USB_CALL StandinOpen(uint32_t index, DeviceHandle* handle) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.open(index, handle);
    LogCall(Prefix("open") + Format(" index=%" PRIu32 " handle=%s -> %d", index,
                                    status == USB_OK ? HandleText(*handle).c_str() : "-", status));
    return status;
}

UsbStatus USB_CALL StandinClose(DeviceHandle handle) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.close(handle);
    LogCall(Prefix("close") + " handle=" + HandleText(handle) + Format(" -> %d", status));
    DumpDevices();
    return status;
}

UsbStatus USB_CALL StandinRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                               void* overlapped) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    // The simulated read gets a count of its own, to log what it delivered;
    // a missing one of the caller's is a violation all the same.
    if (!bytesRead && SimViolation("read: null bytes-read pointer")) return RULE_BROKEN;
    uint32_t got = 0;
    const UsbStatus status = SIM_USB_LIBRARY.read(handle, buffer, length, &got, overlapped);
    *bytesRead = got;
    LogCall(Prefix("read") + " handle=" + HandleText(handle) + Format(" length=%" PRIu32 " ", length) +
            Bytes(buffer, status == USB_OK ? got : 0) + Format(" -> %d", status));
    return status;
}

UsbStatus USB_CALL StandinWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesWritten,
                                void* overlapped) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const std::string packet = buffer ? Bytes(buffer, length) : "null";
    const UsbStatus status = SIM_USB_LIBRARY.write(handle, buffer, length, bytesWritten, overlapped);
    LogCall(Prefix("write") + " handle=" + HandleText(handle) + Format(" length=%" PRIu32 " ", length) + packet +
            Format(" -> %d", status));
    return status;
}

UsbStatus USB_CALL StandinSetup(DeviceHandle handle, uint32_t first, uint32_t second) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.setup(handle, first, second);
    LogCall(Prefix("setup") + " handle=" + HandleText(handle) +
            Format(" %" PRIu32 " %" PRIu32 " -> %d", first, second, status));
    return status;
}

UsbStatus USB_CALL StandinQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting, uint32_t* queueStatus) {
    Call lock;
    if (gBroken) return SCENARIO_BROKEN;
    const UsbStatus status = SIM_USB_LIBRARY.queryRxQueue(handle, bytesWaiting, queueStatus);
    const std::string line = Format("thread=%lu query handle=", GetCurrentThreadId()) + HandleText(handle) +
                             Format(" waiting=%" PRIu32 " -> %d", status == USB_OK ? *bytesWaiting : 0, status);
    if (gPollCount > 0 && line == gPollLine) {
        ++gPollCount;
    } else {
        FlushPolls();
        gPollLine = line;
        gPollFirst = gSimBus.callCount;
        gPollCount = 1;
    }
    return status;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&gLock);
        // A long buffer: the folder may be deep, and named in any characters.
        std::wstring path(32768, L'\0');
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        gDir.assign(path.data(), length < path.size() ? length : 0);
        const size_t slash = gDir.find_last_of(L"\\/");
        gDir = slash == std::wstring::npos ? L"" : gDir.substr(0, slash + 1);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        if (gStarted) {
            FlushPolls();
            if (!gBroken) DumpDevices();
        }
        if (gLog != INVALID_HANDLE_VALUE) CloseHandle(gLog);
        DeleteCriticalSection(&gLock);
    }
    return TRUE;
}
