#include "sim/sim_device.h"

#include <cstring>

#include "sim/sim_bootloader.h"
#include "sim/sim_faults.h"

SimBus gSimBus;

namespace {

constexpr UsbStatus SIM_FAIL = 1;

// Handle values: in a 64-bit process they do not fit in 32 bits, so that a
// handle cut to 32 bits anywhere is noticed.
DeviceHandle HandleForSlot(size_t slot) {
    if constexpr (sizeof(DeviceHandle) > 4) {
        return static_cast<DeviceHandle>(0x5A5A000100000000LL + static_cast<long long>(slot) * 0x10);
    } else {
        return static_cast<DeviceHandle>(0x1000 + slot * 0x10);
    }
}

// The packet that makes an application-mode device restart into its bootloader.
const uint8_t MODE_SWITCH[32] = {0x00, 0x16, 0xA8, 0x00, 0x00, 0x15, 'B', 'o', 'o', 't', 'l',
                                 'o',  'a',  'd',  ' ',  'e',  'n',  'a', 'b', 'l', 'e', 'd'};

const char BOOTLOADER_NAME[] = "ar5w2~";
const char PROBE_STRING[] = "Lumaris USB";

uint32_t Now() { return gSimBus.now ? gSimBus.now() : 0; }

bool Reached(uint32_t now, uint32_t when) { return static_cast<int32_t>(now - when) >= 0; }

uint8_t LastPageForType(uint8_t deviceType) {
    switch (deviceType) {
        case 0x81:
        case 0x82: return 29;
        case 0x83:
        case 0x85: return 62;
        case 0x84:
        case 0x86: return 124;
        default: return 29;
    }
}

// Brings devices whose restart has finished back onto the bus.
void UpdatePresence(uint32_t now) {
    for (SimDevice& device : gSimBus.devices) {
        SimDevice* d = &device;
        if (!d->present && !d->gone && d->backAt != 0 && Reached(now, d->backAt)) {
            d->present = true;
            d->backAt = 0;
            d->mode = d->backInMode;
            d->keyAccepted = false;
            d->selectedPage = -1;
            d->queueHead = d->queueLength = 0;
        }
    }
}

// Devices that wait to be plugged in while another one restarts are on
// their way now.
void PlugInDuringRestart(uint32_t now) {
    for (SimDevice& device : gSimBus.devices) {
        SimDevice* d = &device;
        if (d->arrivesAfterRestartMs == 0 || d->present || d->gone || d->backAt != 0) continue;
        d->backAt = now + d->arrivesAfterRestartMs;
        if (d->backAt == 0) d->backAt = 1;
        d->arrivesAfterRestartMs = 0;
    }
}

SimDevice* AttachedDevice(uint32_t index) {
    uint32_t seen = 0;
    for (SimDevice& device : gSimBus.devices) {
        SimDevice* d = &device;
        if (d->present && !d->gone) {
            if (seen == index) return d;
            ++seen;
        }
    }
    return nullptr;
}

// The device behind an open handle; a device that is restarting still owns
// its handle until the host closes it.
SimDevice* OpenDevice(DeviceHandle handle) {
    for (SimDevice& device : gSimBus.devices) {
        SimDevice* d = &device;
        if (d->open && d->handle == handle && !d->gone) return d;
    }
    return nullptr;
}

// A device waiting to restart (after a mode switch or a run) leaves the bus
// when its handle is closed.
bool RestartPending(const SimDevice* d) { return d->backInMode != d->mode; }

void Enqueue(SimDevice* d, const uint8_t* bytes, size_t count, uint32_t readyAt) {
    for (size_t i = 0; i < count && d->queueLength < SIM_QUEUE_CAPACITY; ++i) {
        const size_t slot = (d->queueHead + d->queueLength) % SIM_QUEUE_CAPACITY;
        d->queue[slot] = SimQueuedByte{bytes[i], readyAt};
        ++d->queueLength;
    }
}

uint32_t ReadyBytes(const SimDevice* d, uint32_t now) {
    uint32_t ready = 0;
    while (ready < d->queueLength && Reached(now, d->queue[(d->queueHead + ready) % SIM_QUEUE_CAPACITY].readyAt)) {
        ++ready;
    }
    return ready;
}

struct CallScope {
    SimCall call{};
    bool failed = false;
};

// Counts the call and applies the status faults: the bus's, and those of
// `d`, the device behind the call's handle (null for calls by index).
// Returns true when the call must fail without effect.
bool BeginCall(CallScope& scope, SimOp op, SimDevice* d = nullptr) {
    ++gSimBus.callCount;
    if (op == SimOp::Write) ++gSimBus.writeCount;
    if (op == SimOp::DeviceCount) ++gSimBus.countCalls;
    const bool counted = !gSimBus.faultCountsWrites || op == SimOp::Write;
    const uint32_t number = gSimBus.faultCountsWrites ? gSimBus.writeCount : gSimBus.callCount;
    scope.call.op = op;
    scope.call.time = Now();
    scope.call.lockDepth = gSimBus.lockDepthProbe ? gSimBus.lockDepthProbe() : -1;
    UpdatePresence(scope.call.time);
    if (SimOverCallLimit()) scope.failed = true;
    const bool busFails =
        (gSimBus.faultKind == SimFaultKind::Vanish && number >= gSimBus.faultCall) ||
        (gSimBus.faultKind == SimFaultKind::FailStatus && counted && number == gSimBus.faultCall) ||
        (gSimBus.faultKind == SimFaultKind::FailRead && op == SimOp::Read && number == gSimBus.faultCall) ||
        (gSimBus.faultKind == SimFaultKind::FailCount && op == SimOp::DeviceCount &&
         gSimBus.countCalls == gSimBus.faultCall);
    if (busFails) {
        if (gSimBus.faultKind == SimFaultKind::Vanish)
            for (SimDevice& device : gSimBus.devices) device.gone = true;
        if (!scope.failed) ++gSimBus.faultActs;
        scope.failed = true;
    }
    if (d && !d->gone && d->open) {
        if (op == SimOp::Write) ++d->packetsWritten;
        const bool fails =
            (d->faultKind == SimFaultKind::Vanish && d->packetsWritten >= d->faultPacket) ||
            (d->faultKind == SimFaultKind::FailStatus && op == SimOp::Write && d->packetsWritten == d->faultPacket) ||
            (d->faultKind == SimFaultKind::FailRead && op == SimOp::Read && d->packetsWritten == d->faultPacket);
        if (fails) {
            if (d->faultKind == SimFaultKind::Vanish) d->gone = true;
            if (!scope.failed) ++d->faultActs;
            scope.failed = true;
        }
    }
    return scope.failed;
}

UsbStatus EndCall(CallScope& scope, UsbStatus status) {
    scope.call.status = status;
    if (gSimBus.recordCalls) gSimBus.calls.push_back(std::move(scope.call));
    return status;
}

bool IsReplyFault(SimFaultKind kind) {
    return kind != SimFaultKind::None && kind != SimFaultKind::FailStatus && kind != SimFaultKind::Vanish &&
           kind != SimFaultKind::ShortRead && kind != SimFaultKind::FailRead && kind != SimFaultKind::FailCount;
}

// The reply fault that acts on the write to `d` now being handled, or None;
// `acts` is the counter of the fault's owner (the bus or `d`).
SimFaultKind ReplyFaultHere(SimDevice* d, uint32_t** acts) {
    const uint32_t number = gSimBus.faultCountsWrites ? gSimBus.writeCount : gSimBus.callCount;
    if (number == gSimBus.faultCall && IsReplyFault(gSimBus.faultKind)) {
        *acts = &gSimBus.faultActs;
        return gSimBus.faultKind;
    }
    if (d->packetsWritten == d->faultPacket && IsReplyFault(d->faultKind)) {
        *acts = &d->faultActs;
        return d->faultKind;
    }
    return SimFaultKind::None;
}

void ApplyReplyFault(SimDevice* d, uint8_t code, uint8_t* reply, size_t* replyLength, uint32_t* delay) {
    uint32_t* acts = nullptr;
    const SimFaultKind fault = ReplyFaultHere(d, &acts);
    if (fault == SimFaultKind::None || *replyLength == 0) return;
    bool acted = true;
    switch (fault) {
        case SimFaultKind::MissingReply: *replyLength = 0; break;
        case SimFaultKind::LateReply: *delay += SIM_LATE_REPLY_MS; break;
        case SimFaultKind::PartialReply: --*replyLength; break;
        case SimFaultKind::BadAck:
            if (code == 0x00)
                reply[8] = 0x00;
            else
                reply[0] = SIM_REPLY_REFUSED;
            break;
        case SimFaultKind::WrongChecksum:
            acted = *replyLength == 4;  // only the reply to a second half carries a checksum
            if (acted) reply[3] ^= 0x01;
            break;
        default: acted = false; break;
    }
    if (acted) ++*acts;
}

UsbStatus USB_CALL SimDeviceCount(uint32_t* count) {
    CallScope scope;
    if (BeginCall(scope, SimOp::DeviceCount)) return EndCall(scope, SIM_FAIL);
    if (!count && SimViolation("device count: null count pointer")) return EndCall(scope, SIM_FAIL);
    uint32_t n = 0;
    while (AttachedDevice(n)) ++n;
    *count = n;
    scope.call.value = n;
    return EndCall(scope, USB_OK);
}

UsbStatus USB_CALL SimDeviceString(uint32_t index, void* buffer, uint32_t selector) {
    CallScope scope;
    scope.call.index = index;
    scope.call.selector = selector;
    if (BeginCall(scope, SimOp::DeviceString)) return EndCall(scope, SIM_FAIL);
    if (!buffer && SimViolation("device string: null buffer")) return EndCall(scope, SIM_FAIL);
    SimDevice* d = AttachedDevice(index);
    if (!d) return EndCall(scope, SIM_FAIL);
    auto* out = static_cast<uint8_t*>(buffer);
    if (selector == STRING_SELECTOR_ID) {
        if (!d->idReadable) return EndCall(scope, SIM_FAIL);
        std::memset(out, 0, DEVICE_STRING_SIZE);
        if (d->fillWholeStringBuffer) {
            std::memset(out, 'x', DEVICE_STRING_SIZE);
        } else if (d->mode == SimMode::Bootloader) {
            std::memcpy(out, BOOTLOADER_NAME, sizeof BOOTLOADER_NAME);
        } else {
            std::memcpy(out, d->appName, d->appNameLength);
        }
        if (d->bootloaderAfterReads != 0 && --d->bootloaderAfterReads == 0) {
            d->mode = d->backInMode = SimMode::Bootloader;
        }
        return EndCall(scope, USB_OK);
    }
    if (selector == STRING_SELECTOR_PROBE) {
        if (!d->probeReadable) return EndCall(scope, SIM_FAIL);
        std::memset(out, 0, DEVICE_STRING_SIZE);
        std::memcpy(out, PROBE_STRING, sizeof PROBE_STRING);
        return EndCall(scope, USB_OK);
    }
    return EndCall(scope, SIM_FAIL);
}

UsbStatus USB_CALL SimOpen(uint32_t index, DeviceHandle* handle) {
    CallScope scope;
    scope.call.index = index;
    if (BeginCall(scope, SimOp::Open)) return EndCall(scope, SIM_FAIL);
    if (!handle && SimViolation("open: null handle pointer")) return EndCall(scope, SIM_FAIL);
    SimDevice* d = AttachedDevice(index);
    if (!d || d->open) return EndCall(scope, SIM_FAIL);
    d->open = true;
    d->handle = HandleForSlot(d->slot);
    d->backInMode = d->mode;
    d->queueHead = d->queueLength = 0;
    *handle = d->handle;
    scope.call.handle = d->handle;
    return EndCall(scope, USB_OK);
}

UsbStatus USB_CALL SimClose(DeviceHandle handle) {
    CallScope scope;
    scope.call.handle = handle;
    if (BeginCall(scope, SimOp::Close, OpenDevice(handle))) return EndCall(scope, SIM_FAIL);
    SimDevice* d = OpenDevice(handle);
    if (!d) return EndCall(scope, SIM_FAIL);
    d->open = false;
    if (RestartPending(d)) {  // after a mode switch or a run: restart now
        d->present = false;
        d->backAt = scope.call.time + (d->rebootDelayMs ? d->rebootDelayMs : 1);
        if (d->backAt == 0) d->backAt = 1;
        if (d->backInMode == SimMode::Bootloader) PlugInDuringRestart(scope.call.time);
    }
    return EndCall(scope, USB_OK);
}

UsbStatus USB_CALL SimRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead, void* overlapped) {
    CallScope scope;
    scope.call.handle = handle;
    scope.call.length = length;
    if (BeginCall(scope, SimOp::Read, OpenDevice(handle))) return EndCall(scope, SIM_FAIL);
    if (!buffer && SimViolation("read: null buffer")) return EndCall(scope, SIM_FAIL);
    if (!bytesRead && SimViolation("read: null bytes-read pointer")) return EndCall(scope, SIM_FAIL);
    if (overlapped && SimViolation("read: last argument not 0")) return EndCall(scope, SIM_FAIL);
    SimDevice* d = OpenDevice(handle);
    if (!d) return EndCall(scope, SIM_FAIL);
    const uint32_t ready = ReadyBytes(d, scope.call.time);
    const uint32_t taken = length < ready ? length : ready;
    // A short read takes the bytes off the queue and loses them on the way.
    const uint32_t count = taken > 0 && SimShortReadHere(d) ? 0 : taken;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < taken; ++i) {
        if (i < count) out[i] = d->queue[d->queueHead].value;
        d->queueHead = (d->queueHead + 1) % SIM_QUEUE_CAPACITY;
        --d->queueLength;
    }
    *bytesRead = count;
    if (gSimBus.recordCalls) scope.call.bytes.assign(out, out + count);
    return EndCall(scope, USB_OK);
}

UsbStatus USB_CALL SimWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesWritten,
                            void* overlapped) {
    CallScope scope;
    scope.call.handle = handle;
    scope.call.length = length;
    const auto* packet = static_cast<const uint8_t*>(buffer);
    if (gSimBus.recordCalls && packet) scope.call.bytes.assign(packet, packet + length);
    if (BeginCall(scope, SimOp::Write, OpenDevice(handle))) return EndCall(scope, SIM_FAIL);
    if (!packet && SimViolation("write: null buffer")) return EndCall(scope, SIM_FAIL);
    if (!bytesWritten && SimViolation("write: null bytes-written pointer")) return EndCall(scope, SIM_FAIL);
    if (overlapped && SimViolation("write: last argument not 0")) return EndCall(scope, SIM_FAIL);
    SimDevice* d = OpenDevice(handle);
    if (!d) return EndCall(scope, SIM_FAIL);
    *bytesWritten = length;
    if (RestartPending(d)) return EndCall(scope, USB_OK);  // restarting: nothing is heard
    if (d->mode == SimMode::Application) {
        if (length == sizeof MODE_SWITCH && std::memcmp(packet, MODE_SWITCH, sizeof MODE_SWITCH) == 0) {
            ++d->modeSwitches;
            d->backInMode = SimMode::Bootloader;
            if (d->replyToModeSwitch) {
                const uint8_t ack = 0;
                Enqueue(d, &ack, 1, scope.call.time + d->replyDelayMs);
            }
        }
        return EndCall(scope, USB_OK);
    }
    uint8_t reply[9];
    uint32_t delay = 0;
    size_t replyLength = SimBootloaderCommand(d, packet, length, reply, &delay);
    delay += d->replyDelayMs;
    ApplyReplyFault(d, length ? packet[0] : 0, reply, &replyLength, &delay);
    Enqueue(d, reply, replyLength, scope.call.time + delay);
    return EndCall(scope, USB_OK);
}

UsbStatus USB_CALL SimSetup(DeviceHandle handle, uint32_t first, uint32_t second) {
    CallScope scope;
    scope.call.handle = handle;
    scope.call.value = first;
    scope.call.value2 = second;
    if (BeginCall(scope, SimOp::Setup, OpenDevice(handle))) return EndCall(scope, SIM_FAIL);
    return EndCall(scope, OpenDevice(handle) ? USB_OK : SIM_FAIL);
}

UsbStatus USB_CALL SimQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting, uint32_t* queueStatus) {
    CallScope scope;
    scope.call.handle = handle;
    if (BeginCall(scope, SimOp::QueryRxQueue, OpenDevice(handle))) return EndCall(scope, SIM_FAIL);
    if (!bytesWaiting && SimViolation("queue query: null bytes-waiting pointer")) return EndCall(scope, SIM_FAIL);
    if (!queueStatus && SimViolation("queue query: null queue-status pointer")) return EndCall(scope, SIM_FAIL);
    SimDevice* d = OpenDevice(handle);
    if (!d) return EndCall(scope, SIM_FAIL);
    *bytesWaiting = ReadyBytes(d, scope.call.time);
    *queueStatus = 0;
    scope.call.value = *bytesWaiting;
    return EndCall(scope, USB_OK);
}

}  // namespace

const UsbLibrary SIM_USB_LIBRARY = {
    .getDeviceCount = SimDeviceCount,
    .getDeviceString = SimDeviceString,
    .open = SimOpen,
    .close = SimClose,
    .read = SimRead,
    .write = SimWrite,
    .setup = SimSetup,
    .queryRxQueue = SimQueryRxQueue,
};

const char* SimFaultName(SimFaultKind kind) {
    switch (kind) {
        case SimFaultKind::None: return "none";
        case SimFaultKind::FailStatus: return "fail-status";
        case SimFaultKind::MissingReply: return "missing-reply";
        case SimFaultKind::LateReply: return "late-reply";
        case SimFaultKind::PartialReply: return "partial-reply";
        case SimFaultKind::BadAck: return "bad-ack";
        case SimFaultKind::WrongChecksum: return "wrong-checksum";
        case SimFaultKind::Vanish: return "vanish";
        case SimFaultKind::ShortRead: return "short-read";
        case SimFaultKind::FlippedBit: return "flipped-bit";
        case SimFaultKind::FailRead: return "fail-read";
        case SimFaultKind::FailCount: return "fail-count";
    }
    return "?";
}

void SimReset(uint32_t (*now)()) {
    gSimBus.devices.clear();
    gSimBus.faultKind = SimFaultKind::None;
    gSimBus.faultCall = 0;
    gSimBus.faultActs = 0;
    gSimBus.faultCountsWrites = false;
    gSimBus.callCount = 0;
    gSimBus.writeCount = 0;
    gSimBus.countCalls = 0;
    gSimBus.recordCalls = true;
    gSimBus.calls.clear();
    gSimBus.now = now;
    gSimBus.lockDepthProbe = nullptr;
    gSimBus.violations = 0;
    gSimBus.callLimit = 0;
    gSimBus.violation = nullptr;
    gUsb = SIM_USB_LIBRARY;
}

SimDevice* SimAddDevice() {
    SimDevice* d = &gSimBus.devices.emplace_back();
    std::memset(static_cast<void*>(d), 0, sizeof *d);
    d->slot = gSimBus.devices.size() - 1;
    d->mode = SimMode::Bootloader;
    d->backInMode = SimMode::Bootloader;
    SimSetAppName(d, "2021");
    d->idReadable = true;
    d->probeReadable = true;
    SimSetDeviceType(d, 0x83);
    d->rebootDelayMs = 500;
    std::memset(d->flash, 0xFF, sizeof d->flash);
    d->present = true;
    d->selectedPage = -1;
    d->handle = NO_DEVICE;
    return d;
}

void SimSetDeviceType(SimDevice* device, uint8_t deviceType) {
    device->deviceType = deviceType;
    device->lastPage = LastPageForType(deviceType);
}

void SimSetAppName(SimDevice* device, const char* name) {
    size_t length = std::strlen(name);
    if (length > DEVICE_STRING_SIZE - 1) length = DEVICE_STRING_SIZE - 1;
    std::memcpy(device->appName, name, length);
    device->appNameLength = length;
}

void SimSetInstalledApp(SimDevice* device, uint8_t verHi, uint8_t verLo, bool valid) {
    const size_t base = SimLastPageBase(device);
    device->flash[base + SIM_VERSION_OFFSET] = verHi;
    device->flash[base + SIM_VERSION_OFFSET + 1] = verLo;
    device->flash[base + SIM_SIGNATURE_OFFSET] = valid ? 0x3D : 0xFF;
    device->flash[base + SIM_SIGNATURE_OFFSET + 1] = valid ? 0xC2 : 0xFF;
}

void SimSetFault(SimFaultKind kind, uint32_t callNumber) {
    gSimBus.faultKind = kind;
    gSimBus.faultCall = callNumber;
    gSimBus.faultActs = 0;
}

uint16_t SimSignature(const SimDevice* device) {
    const size_t at = SimLastPageBase(device) + SIM_SIGNATURE_OFFSET;
    return static_cast<uint16_t>(device->flash[at] << 8 | device->flash[at + 1]);
}

bool SimHasValidApp(const SimDevice* device) { return SimSignature(device) == SIM_VALID_SIGNATURE; }

uint16_t SimCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}
