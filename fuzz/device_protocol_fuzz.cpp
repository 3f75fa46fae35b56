// Fuzz target: the device side of a whole update. The input scripts a
// device that the simulated one stands behind: its configuration first, then
// a list of events, each "let this many library calls through unchanged (two
// bytes, high byte first), then fail the next one without reaching the
// device, or let it through and change what comes back" (counts,
// identification strings, handles, reply bytes dropped, cut short or
// delayed, receive-queue counts that are wrong, reads that deliver less),
// with the event's own bytes. Once the input is used up every call goes
// through unchanged. The worker runs on the fake platform's virtual clock, so
// that every wait ends at once.
//
// Whatever the script, the update must end, and "OK" may be drawn only when
//  - the program sent every page of the image and then the signature, and
//  - the device's flash holds the image with a valid signature. A device
//    that lies about the content of its replies can always pass for one
//    that did its work; so this second check holds for every run in which
//    each byte the program received is one the device really sent, in the
//    order it sent them (late, cut short or missing replies included).
//    Inputs with the "hostile" flag may also rewrite reply bytes; for those
//    only the first check is made.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/hex_loader.h"
#include "platform/fake_platform.h"
#include "platform/seams.h"
#include "sim/sim_device.h"
#include "job/update_job.h"
#include "worker/update_worker.h"

namespace {

constexpr UsbStatus SCRIPTED_FAILURE = 0x17;
// No run that ends comes near this many calls: every reply wait ends within
// about 100 polls, discovery looks at no more than 127 devices, and a run
// sends a few hundred packets. More means the update does not end.
constexpr uint64_t CALL_LIMIT = 2000000;

constexpr uint8_t OLD_FILL = 0x11;
constexpr uint8_t DEVICE_TYPES[8] = {0x83, 0x81, 0x82, 0x84, 0x85, 0x86, 0x00, 0xFF};

// The input, read from the front; 0 once it is used up.
struct Script {
    const uint8_t* data;
    size_t size;
    size_t at;
    uint32_t passing;  // calls still to let through before the next event
    bool gapDue;       // the next event's gap is still to be read
    uint8_t Next() { return at < size ? data[at++] : 0; }
};

Script gScript;
bool gHostile;    // reply bytes may be rewritten
bool gRewritten;  // a reply byte was rewritten in this run
uint64_t gCalls;

UpdateJob gImage;  // the embedded image as the program loads it

// What the program has sent that reached the device: for each page, whether
// select, erase and both halves with the image's bytes went through in that
// order; and whether the signature followed every page of the image.
struct Sent {
    int selected;  // -1: none
    bool erased;
    bool firstHalf;
    bool page[PAGE_COUNT];
    bool signatureAfterAllPages;
};
Sent gSent;

enum class Action { Pass, Fail, Change };

Action NextAction() {
    if (++gCalls > CALL_LIMIT) __builtin_trap();  // the update does not end
    if (gScript.gapDue) {
        gScript.passing = static_cast<uint32_t>(gScript.Next()) << 8;
        gScript.passing |= gScript.Next();
        gScript.gapDue = false;
    }
    if (gScript.passing > 0) {
        --gScript.passing;
        return Action::Pass;
    }
    if (gScript.at >= gScript.size) return Action::Pass;
    gScript.gapDue = true;
    switch (gScript.Next() & 3) {
        case 1: return Action::Fail;
        case 2: return Action::Change;
        default: return Action::Pass;
    }
}

SimDevice* DeviceOf(DeviceHandle handle) {
    for (size_t i = 0; i < gSimBus.deviceCount; ++i) {
        SimDevice* d = &gSimBus.devices[i];
        if (d->open && d->handle == handle) return d;
    }
    return nullptr;
}

bool HalfHoldsImage(const uint8_t* packet, size_t page) {
    const uint8_t half = packet[1];
    return half <= 1 && std::memcmp(packet + 2, gImage.ImageBuffer + page * PAGE_SIZE + half * 256, 256) == 0;
}

// Follows the packets that reached the device.
void NoteSent(const uint8_t* packet, uint32_t length) {
    if (length == 0) return;
    switch (packet[0]) {
        case 0x01:
            gSent.selected = length == 2 && packet[1] < PAGE_COUNT ? packet[1] : -1;
            gSent.erased = gSent.firstHalf = false;
            break;
        case 0x02:
            gSent.erased = gSent.selected >= 0 && length == 1;
            gSent.firstHalf = false;
            break;
        case 0x03:
            if (length != 258 || !gSent.erased || !HalfHoldsImage(packet, static_cast<size_t>(gSent.selected))) {
                gSent.erased = gSent.firstHalf = false;
            } else if (packet[1] == 0) {
                gSent.firstHalf = true;
            } else if (gSent.firstHalf) {
                gSent.page[gSent.selected] = true;
            }
            break;
        case 0x07: {
            bool all = true;
            for (size_t p = FIRST_APP_PAGE; p < PAGE_COUNT; ++p)
                if (gImage.PageMap[p] && !gSent.page[p]) all = false;
            gSent.signatureAfterAllPages = all;
            break;
        }
        default: break;
    }
}

UsbStatus USB_CALL ScriptedDeviceCount(uint32_t* count) {
    switch (NextAction()) {
        case Action::Fail: return SCRIPTED_FAILURE;
        case Action::Pass: return SIM_USB_LIBRARY.getDeviceCount(count);
        case Action::Change: break;
    }
    SIM_USB_LIBRARY.getDeviceCount(count);
    *count = gScript.Next();
    return USB_OK;
}

UsbStatus USB_CALL ScriptedDeviceString(uint32_t index, void* buffer, uint32_t selector) {
    switch (NextAction()) {
        case Action::Fail: return SCRIPTED_FAILURE;
        case Action::Pass: return SIM_USB_LIBRARY.getDeviceString(index, buffer, selector);
        case Action::Change: break;
    }
    SIM_USB_LIBRARY.getDeviceString(index, buffer, selector);
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, DEVICE_STRING_SIZE);
    const uint8_t kind = gScript.Next();
    switch (kind % 5) {
        case 0: std::memcpy(out, "ar5w2~", 6); break;
        case 1: std::memcpy(out, "2021", 4); break;
        case 2: break;  // the empty string
        case 3: {       // bytes of the input, up to a NUL
            const uint8_t length = gScript.Next();
            for (size_t i = 0; i < length; ++i) out[i] = gScript.Next();
            break;
        }
        case 4:  // all 256 bytes without a NUL
            for (size_t i = 0; i < DEVICE_STRING_SIZE; ++i) out[i] = static_cast<uint8_t>(gScript.Next() | 0x80);
            break;
    }
    return USB_OK;
}

UsbStatus USB_CALL ScriptedOpen(uint32_t index, DeviceHandle* handle) {
    switch (NextAction()) {
        case Action::Fail: return SCRIPTED_FAILURE;
        case Action::Pass: return SIM_USB_LIBRARY.open(index, handle);
        case Action::Change: break;
    }
    const UsbStatus status = SIM_USB_LIBRARY.open(index, handle);
    *handle += 1 + gScript.Next();  // a handle that names no open device
    return status;
}

UsbStatus USB_CALL ScriptedClose(DeviceHandle handle) {
    if (NextAction() == Action::Fail) return SCRIPTED_FAILURE;
    return SIM_USB_LIBRARY.close(handle);
}

UsbStatus USB_CALL ScriptedSetup(DeviceHandle handle, uint32_t first, uint32_t second) {
    if (NextAction() == Action::Fail) return SCRIPTED_FAILURE;
    return SIM_USB_LIBRARY.setup(handle, first, second);
}

UsbStatus USB_CALL ScriptedWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* written,
                                 void* overlapped) {
    const Action action = NextAction();
    if (action == Action::Fail) return SCRIPTED_FAILURE;
    SimDevice* d = DeviceOf(handle);
    const size_t queuedBefore = d ? d->queueLength : 0;
    const UsbStatus status = SIM_USB_LIBRARY.write(handle, buffer, length, written, overlapped);
    if (status == USB_OK) NoteSent(static_cast<const uint8_t*>(buffer), length);
    if (action == Action::Pass || !d || d->queueLength < queuedBefore) return status;

    // Change the reply that this packet queued.
    size_t added = d->queueLength - queuedBefore;
    const uint8_t how = gScript.Next();
    size_t drop = (how & 0x04) ? added : (how & 0x03);
    if (drop > added) drop = added;
    d->queueLength -= drop;  // missing or cut short
    added -= drop;
    const uint32_t delay = (how & 0x08) ? gScript.Next() : 0;
    for (size_t i = 0; i < added; ++i) {
        SimQueuedByte& byte = d->queue[(d->queueHead + queuedBefore + i) % SIM_QUEUE_CAPACITY];
        byte.readyAt += delay;  // late
        if (gHostile && (how & 0x10)) {
            const uint8_t value = gScript.Next();
            gRewritten |= value != byte.value;
            byte.value = value;
        }
    }
    if ((how & 0x20) && written) *written = gScript.Next();
    return status;
}

UsbStatus USB_CALL ScriptedRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                                void* overlapped) {
    const Action action = NextAction();
    if (action == Action::Fail) return SCRIPTED_FAILURE;
    if (action == Action::Pass) return SIM_USB_LIBRARY.read(handle, buffer, length, bytesRead, overlapped);

    // Deliver fewer of the bytes taken from the queue (the rest are lost),
    // or, for a hostile device, other bytes.
    auto* out = static_cast<uint8_t*>(buffer);
    uint8_t before[64];
    const size_t kept = length < sizeof before ? length : sizeof before;
    std::memcpy(before, out, kept);
    uint32_t delivered = 0;
    const UsbStatus status = SIM_USB_LIBRARY.read(handle, buffer, length, &delivered, overlapped);
    const uint8_t how = gScript.Next();
    if (delivered <= kept) {
        const uint32_t keep = gScript.Next() % (delivered + 1);
        std::memcpy(out + keep, before + keep, delivered - keep);
        delivered = keep;
    }
    if (gHostile && (how & 0x01)) {
        for (uint32_t i = 0; i < delivered; ++i) {
            const uint8_t value = gScript.Next();
            gRewritten |= value != out[i];
            out[i] = value;
        }
    }
    if (bytesRead) *bytesRead = delivered;
    return status;
}

UsbStatus USB_CALL ScriptedQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting, uint32_t* queueStatus) {
    switch (NextAction()) {
        case Action::Fail: return SCRIPTED_FAILURE;
        case Action::Pass: return SIM_USB_LIBRARY.queryRxQueue(handle, bytesWaiting, queueStatus);
        case Action::Change: break;
    }
    const UsbStatus status = SIM_USB_LIBRARY.queryRxQueue(handle, bytesWaiting, queueStatus);
    *bytesWaiting = gScript.Next();  // more or fewer than are waiting
    return status;
}

const UsbLibrary SCRIPTED_LIBRARY = {ScriptedDeviceCount, ScriptedDeviceString, ScriptedOpen,
                                     ScriptedClose,       ScriptedRead,         ScriptedWrite,
                                     ScriptedSetup,       ScriptedQueryRxQueue};

// The configuration at the head of the input.
SimDevice* SetUpDevice() {
    const uint8_t flags = gScript.Next();
    const uint8_t verHi = gScript.Next();
    const uint8_t verLo = gScript.Next();
    const uint8_t reboot = gScript.Next();
    const uint8_t erase = gScript.Next();
    const uint8_t timing = gScript.Next();
    uint32_t start = 0;
    for (int i = 0; i < 4; ++i) start = start << 8 | gScript.Next();

    FakePlatformInstall(start);
    SimReset(FakeClockPeek);
    gSimBus.recordCalls = false;
    gUsb = SCRIPTED_LIBRARY;

    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = (flags & 0x01) ? SimMode::Bootloader : SimMode::Application;
    d->replyToModeSwitch = (flags & 0x02) != 0;
    gHostile = (flags & 0x08) != 0;
    SimSetDeviceType(d, DEVICE_TYPES[(flags >> 4) & 7]);
    std::memset(d->flash + FIRST_APP_PAGE * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - FIRST_APP_PAGE * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, verHi, verLo, (flags & 0x04) == 0);
    d->rebootDelayMs = static_cast<uint32_t>(reboot) * 16;
    d->eraseDelayMs = erase;
    d->replyDelayMs = timing & 0x0F;
    d->bootloaderAfterReads = timing >> 4;
    return d;
}

bool DrewOk() {
    bool ok = false;
    for (const FakeEvent& e : gFake.events)
        if (e.kind == FakeEvent::Text && e.y == 10) ok = e.text.rfind(L"OK", 0) == 0;
    return ok;
}

bool DeviceHoldsImage(const SimDevice* d) {
    for (size_t page = FIRST_APP_PAGE; page < PAGE_COUNT; ++page) {
        if (!gImage.PageMap[page]) continue;
        if (page > d->lastPage) return false;
        const size_t base = page * SIM_PAGE_SIZE;
        const size_t compared = page == d->lastPage ? SIM_SIGNATURE_OFFSET : SIM_PAGE_SIZE;
        if (std::memcmp(d->flash + base, gImage.ImageBuffer + base, compared) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader writes a line to standard output on every load.
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    CreateUpdateJob(gImage);
    std::memset(gImage.ImageBuffer, 0xFF, sizeof gImage.ImageBuffer);
    std::memset(gImage.PageMap, 0, sizeof gImage.PageMap);
    if (!LoadHexImage(gImage)) __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    gScript = Script{data, size, 0, 0, true};
    gRewritten = false;
    gCalls = 0;
    gSent = Sent{};
    gSent.selected = -1;
    const SimDevice* d = SetUpDevice();

    UpdateWorker();

    if (DrewOk()) {
        if (!gSent.signatureAfterAllPages) __builtin_trap();  // OK without the whole image sent
        if (!gRewritten && !(DeviceHoldsImage(d) && SimHasValidApp(d))) __builtin_trap();
    }
    FakePlatformInstall();  // frees what the run recorded
    return 0;
}
