// Fuzz target: the device side of a whole update. The input scripts the
// run: the answer to the program's question (Yes, No, or none: the box could
// not be shown), one to four simulated devices of any kind, and the image
// (the embedded one, or one built from the input by the HEX loader's rules
// and run through UpdateWorkerWith); then a list of events in front of the
// simulated devices, each "let this many library calls through unchanged (two
// bytes, high byte first), then fail the next one without reaching the
// device, or let it through and change what comes back" (counts,
// identification strings, handles, reply bytes dropped, cut short or
// delayed, receive-queue counts that are wrong, reads that deliver less),
// with the event's own bytes. Once the input is used up every call goes
// through unchanged. The worker runs on the fake platform's virtual clock, so
// that every wait ends at once.
//
// Whatever the script, the update must end, and "OK" may be drawn only
//  - after a No: over a device that still holds its valid application,
//    unchanged;
//  - otherwise: when the program sent every page of the image and then the
//    signature to one device, and that device's flash holds the image with a
//    valid signature.
// A device that lies about the content of its replies can always pass for
// one that did its work; so the checks of the devices' flash hold for every
// run in which each byte the program received is one the device really
// sent, in the order it sent them (late, cut short or missing replies
// included). Inputs with the "hostile" flag may also rewrite reply bytes;
// for those only the check of what was sent is made.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/hex_loader.h"
#include "image/image_signature.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "sim/sim_device.h"
#include "tests/fake_platform.h"
#include "worker/update_worker.h"

namespace {

constexpr UsbStatus SCRIPTED_FAILURE = 0x17;
// No run that ends comes near this many calls: every reply wait ends within
// about 100 polls, discovery looks at no more than 127 devices, and a run
// sends a few hundred packets. More means the update does not end.
constexpr uint64_t CALL_LIMIT = 2000000;

constexpr uint8_t OLD_FILL = 0x11;
constexpr uint8_t DEVICE_TYPES[8] = {0x83, 0x81, 0x82, 0x84, 0x85, 0x86, 0x00, 0xFF};
constexpr int ANSWERS[4] = {ANSWER_YES, ANSWER_NO, 0, ANSWER_YES};  // 0: the box could not be shown

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

UpdateJob gDemoImage;     // the embedded image as the program loads it
UpdateJob gInputImage;    // this run's image built from the input
std::string gImageText;   // ... as HEX text
const UpdateJob* gImage;  // the image of this run

// What the program has sent that reached a device: for each page, whether
// select, erase and both halves with the image's bytes went through in that
// order to the same device; which device the signature followed every page
// of the image on; which device was identified last.
struct Sent {
    const SimDevice* device;  // the device the page record is about
    int selected;             // -1: none
    bool erased;
    bool firstHalf;
    bool page[PAGE_COUNT];
    const SimDevice* signedDevice;
    const SimDevice* identified;
};
Sent gSent;
constexpr size_t MOST_DEVICES = 4;  // a run attaches 1..4
uint8_t gInitialFlash[MOST_DEVICES][SIM_FLASH_SIZE];

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
    for (size_t i = 0; i < gSimBus.devices.size(); ++i) {
        SimDevice* d = &gSimBus.devices[i];
        if (d->open && d->handle == handle) return d;
    }
    return nullptr;
}

bool HalfHoldsImage(const uint8_t* packet, size_t page) {
    const uint8_t half = packet[1];
    return half <= 1 && std::memcmp(packet + 2, gImage->ImageBuffer + page * PAGE_SIZE + half * 256, 256) == 0;
}

// Follows the packets that reached device `d`.
void NoteSent(const SimDevice* d, const uint8_t* packet, uint32_t length) {
    if (length == 0 || !d) return;
    if (d != gSent.device) {
        const SimDevice* identified = gSent.identified;
        const SimDevice* signedDevice = gSent.signedDevice;
        gSent = Sent{};
        gSent.device = d;
        gSent.selected = -1;
        gSent.identified = identified;
        gSent.signedDevice = signedDevice;
    }
    switch (packet[0]) {
        case 0x00:
            if (length == 1 && d->mode == SimMode::Bootloader) gSent.identified = d;
            break;
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
                if (gImage->PageMap[p] && !gSent.page[p]) all = false;
            gSent.signedDevice = all ? d : nullptr;
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
    if (status == USB_OK) NoteSent(d, static_cast<const uint8_t*>(buffer), length);
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

const UsbLibrary SCRIPTED_LIBRARY = {ScriptedDeviceCount, ScriptedDeviceString, ScriptedOpen,  ScriptedClose,
                                     ScriptedRead,        ScriptedWrite,        ScriptedSetup, ScriptedQueryRxQueue};

// The image described by the input, written as HEX text by the loader's
// rules: its type byte, its last page (29, 62, 124 or any byte), its version,
// up to three runs of pages with patterned data and the signature page;
// optionally one character overwritten, or no end record.
void BuildInputImage() {
    const uint8_t shape = gScript.Next();
    const uint8_t type = DEVICE_TYPES[shape & 7];
    const uint8_t lastPages[3] = {29, 62, 124};
    const unsigned lastPage = ((shape >> 3) & 3) == 3 ? gScript.Next() : lastPages[(shape >> 3) & 3];
    const uint8_t verHi = gScript.Next();
    const uint8_t verLo = gScript.Next();

    static uint8_t flash[IMAGE_SIZE];
    static bool used[PAGE_COUNT];
    std::memset(flash, 0xFF, sizeof flash);
    std::memset(used, 0, sizeof used);
    const uint8_t runs = gScript.Next() & 3;
    for (uint8_t r = 0; r < runs; ++r) {
        const unsigned first = gScript.Next();
        const unsigned count = gScript.Next() & 0x7F;
        const uint8_t seed = gScript.Next();
        for (unsigned page = first; page < first + count && page < PAGE_COUNT; ++page) {
            used[page] = true;
            for (size_t i = 0; i < PAGE_SIZE; ++i)
                flash[page * PAGE_SIZE + i] = static_cast<uint8_t>(seed + i * (seed | 1u) + page);
        }
    }
    if (lastPage < PAGE_COUNT) {
        used[lastPage] = true;
        uint8_t* signature = flash + lastPage * PAGE_SIZE;
        signature[SIGNATURE_TYPE_OFFSET] = type;
        signature[SIGNATURE_VERSION_HI_OFFSET] = verHi;
        signature[SIGNATURE_VERSION_LO_OFFSET] = verLo;
    }

    // 32-byte records, one line end after each; the device's own signature
    // bytes of the last page are left out.
    gImageText.clear();
    char line[2 * 37 + 4];
    for (unsigned page = 0; page < PAGE_COUNT; ++page) {
        if (!used[page]) continue;
        const size_t end = page == lastPage ? DEVICE_SIGNATURE_OFFSET : PAGE_SIZE;
        for (size_t offset = 0; offset < end; offset += 32) {
            const size_t count = end - offset < 32 ? end - offset : 32;
            const size_t address = page * PAGE_SIZE + offset;
            unsigned sum = static_cast<unsigned>(count + (address >> 8) + (address & 0xFF));
            int n = std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(count),
                                  static_cast<unsigned>(address));
            for (size_t i = 0; i < count; ++i) {
                sum += flash[address + i];
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%02X",
                                   static_cast<unsigned>(flash[address + i]));
            }
            std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
            gImageText += line;
        }
    }
    if (!(shape & 0x40)) gImageText += ":00000001FF\n";
    if ((shape & 0x20) && !gImageText.empty()) {
        const size_t at = (static_cast<size_t>(gScript.Next()) << 8 | gScript.Next()) % gImageText.size();
        gImageText[at] = static_cast<char>(gScript.Next());
    }

    // The image as the program will load it, for the checks at the end.
    CreateUpdateJob(gInputImage);
    std::memset(gInputImage.ImageBuffer, 0xFF, sizeof gInputImage.ImageBuffer);
    std::memset(gInputImage.PageMap, 0, sizeof gInputImage.PageMap);
    LoadHexText(gInputImage, reinterpret_cast<const uint8_t*>(gImageText.data()), gImageText.size());
}

void InputImageStep(UpdateJob& job) {
    PrepareAndValidateText(job, reinterpret_cast<const uint8_t*>(gImageText.data()), gImageText.size());
}

// One device as the input describes it: mode, name, type, installed
// application, delays, a mode change of its own.
void AddDevice() {
    const uint8_t flags = gScript.Next();
    const uint8_t verHi = gScript.Next();
    const uint8_t verLo = gScript.Next();
    const uint8_t reboot = gScript.Next();
    const uint8_t erase = gScript.Next();
    const uint8_t timing = gScript.Next();
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = (flags & 0x01) ? SimMode::Bootloader : SimMode::Application;
    d->replyToModeSwitch = (flags & 0x02) != 0;
    switch ((flags >> 6 & 2) | (flags >> 3 & 1)) {
        case 1: SimSetAppName(d, ""); break;
        case 2: SimSetAppName(d, "LX-7"); break;  // a name that is no application-mode name
        case 3: d->idReadable = false; break;
        default: break;
    }
    SimSetDeviceType(d, DEVICE_TYPES[(flags >> 4) & 7]);
    std::memset(d->flash + FIRST_APP_PAGE * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - FIRST_APP_PAGE * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, verHi, verLo, (flags & 0x04) == 0);
    d->rebootDelayMs = static_cast<uint32_t>(reboot) * 16;
    d->eraseDelayMs = erase;
    d->replyDelayMs = timing & 0x0F;
    d->bootloaderAfterReads = timing >> 4;
}

// The run's configuration at the head of the input. Returns the image step.
ImageStep SetUp() {
    const uint8_t run = gScript.Next();
    uint32_t start = 0;
    for (int i = 0; i < 4; ++i) start = start << 8 | gScript.Next();

    FakePlatformInstall(start);
    gFake.defaultQuestionAnswer = ANSWERS[run & 3];
    gHostile = (run & 0x10) != 0;
    SimReset(FakeClockPeek);
    gSimBus.recordCalls = false;
    gSimBus.violation = [](const char*) { __builtin_trap(); };  // a call that breaks the library's rules
    gUsb = SCRIPTED_LIBRARY;

    const size_t devices = 1 + ((run >> 2) & (MOST_DEVICES - 1));
    for (size_t i = 0; i < devices; ++i) AddDevice();
    for (size_t i = 0; i < gSimBus.devices.size(); ++i)
        std::memcpy(gInitialFlash[i], gSimBus.devices[i].flash, SIM_FLASH_SIZE);

    if (run & 0x20) {
        BuildInputImage();
        gImage = &gInputImage;
        return InputImageStep;
    }
    gImage = &gDemoImage;
    return PrepareAndValidateImage;
}

bool DrewOk() {
    bool ok = false;
    for (const FakeEvent& e : gFake.events)
        if (e.kind == FakeEvent::Text && e.y == 10) ok = e.text.rfind(L"OK", 0) == 0;
    return ok;
}

bool AnsweredNo() {
    for (const FakeEvent& e : gFake.events)
        if (e.kind == FakeEvent::Box && e.style == BOX_YESNO && e.answer == ANSWER_NO) return true;
    return false;
}

bool DeviceHoldsImage(const SimDevice* d) {
    for (size_t page = FIRST_APP_PAGE; page < PAGE_COUNT; ++page) {
        if (!gImage->PageMap[page]) continue;
        if (page > d->lastPage) return false;
        const size_t base = page * SIM_PAGE_SIZE;
        const size_t compared = page == d->lastPage ? SIM_SIGNATURE_OFFSET : SIM_PAGE_SIZE;
        if (std::memcmp(d->flash + base, gImage->ImageBuffer + base, compared) != 0) return false;
    }
    return true;
}

bool Unchanged(const SimDevice* d) { return std::memcmp(d->flash, gInitialFlash[d->slot], SIM_FLASH_SIZE) == 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader writes a line to standard output on every load.
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    CreateUpdateJob(gDemoImage);
    std::memset(gDemoImage.ImageBuffer, 0xFF, sizeof gDemoImage.ImageBuffer);
    std::memset(gDemoImage.PageMap, 0, sizeof gDemoImage.PageMap);
    if (!LoadHexImage(gDemoImage)) __builtin_trap();
    gImageText.reserve(200000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    gScript = Script{data, size, 0, 0, true};
    gRewritten = false;
    gCalls = 0;
    gSent = Sent{};
    gSent.selected = -1;
    const ImageStep imageStep = SetUp();

    UpdateWorkerWith(imageStep);

    if (DrewOk()) {
        if (AnsweredNo()) {
            // Nothing was programmed: the device must still hold its valid application.
            if (!gRewritten && !(gSent.identified && SimHasValidApp(gSent.identified) && Unchanged(gSent.identified)))
                __builtin_trap();
        } else {
            if (!gSent.signedDevice) __builtin_trap();  // OK without the whole image sent to one device
            if (!gRewritten && !(DeviceHoldsImage(gSent.signedDevice) && SimHasValidApp(gSent.signedDevice)))
                __builtin_trap();
        }
    }
    FakePlatformInstall();  // frees what the run recorded
    return 0;
}
