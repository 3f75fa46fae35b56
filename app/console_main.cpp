// lumaris-update: the update worker on the console, against a simulated
// device. Every progress text and every message box is printed as it
// happens; questions are answered from --yes, --no or standard input.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "image/embedded_image.h"
#include "image/hex_loader.h"
#include "image/image_signature.h"
#include "image/unscramble.h"
#include "platform/console_platform.h"
#include "platform/seams.h"
#include "sim/sim_device.h"
#include "job/update_job.h"
#include "worker/update_worker.h"

namespace {

struct Options {
    ConsoleAnswers answers = ConsoleAnswers::AskStdin;
    int deviceType = -1;  // -1: the image's own type
    bool bootloader = false;
    bool noDevice = false;
    bool invalidApp = false;
    uint16_t installed = 0x0090;
    SimFaultKind fault = SimFaultKind::None;
    uint32_t faultCall = 0;
    uint32_t replyDelayMs = 1;
    uint32_t eraseDelayMs = 20;
};

const char USAGE[] =
    "usage: lumaris-update [options]\n"
    "Updates a simulated Lumaris device with the firmware built into the program.\n"
    "  --yes | --no          answer the program's questions (default: ask on standard input)\n"
    "  --type 0xNN           device type, 0x81..0x86 or any other byte (default: the image's type)\n"
    "  --bootloader          the device starts in its bootloader (default: in its application)\n"
    "  --installed 0xHHLL    installed application version (default 0x0090)\n"
    "  --no-valid-app        the device holds no valid application\n"
    "  --no-device           no device attached\n"
    "  --fault KIND:N        inject one fault at the Nth packet sent to the device; KIND is one of\n"
    "                        fail-status missing-reply late-reply partial-reply bad-ack wrong-checksum vanish\n"
    "                        short-read flipped-bit\n"
    "  --reply-delay MS      the device's time to answer a command (default 1)\n"
    "  --erase-delay MS      added time to erase a page (default 20)\n";

bool ParseNumber(const char* text, unsigned long max, unsigned long* out) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (!text[0] || *end || value > max) return false;
    *out = value;
    return true;
}

bool ParseFault(const char* text, Options* options) {
    const char* colon = std::strchr(text, ':');
    if (!colon) return false;
    const std::string name(text, colon);
    unsigned long call = 0;
    if (!ParseNumber(colon + 1, 0xFFFFFFFFul, &call) || call == 0) return false;
    for (SimFaultKind kind : SIM_FAULT_KINDS) {
        if (name == SimFaultName(kind)) {
            options->fault = kind;
            options->faultCall = static_cast<uint32_t>(call);
            return true;
        }
    }
    return false;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        } else if (arg == "--yes") {
            options->answers = ConsoleAnswers::Yes;
        } else if (arg == "--no") {
            options->answers = ConsoleAnswers::No;
        } else if (arg == "--bootloader") {
            options->bootloader = true;
        } else if (arg == "--no-device") {
            options->noDevice = true;
        } else if (arg == "--no-valid-app") {
            options->invalidApp = true;
        } else if (arg == "--type" && value && ParseNumber(value, 0xFF, &number)) {
            options->deviceType = static_cast<int>(number);
            ++i;
        } else if (arg == "--installed" && value && ParseNumber(value, 0xFFFF, &number)) {
            options->installed = static_cast<uint16_t>(number);
            ++i;
        } else if (arg == "--fault" && value && ParseFault(value, options)) {
            ++i;
        } else if (arg == "--reply-delay" && value && ParseNumber(value, 10000, &number)) {
            options->replyDelayMs = static_cast<uint32_t>(number);
            ++i;
        } else if (arg == "--erase-delay" && value && ParseNumber(value, 10000, &number)) {
            options->eraseDelayMs = static_cast<uint32_t>(number);
            ++i;
        } else {
            std::fprintf(stderr, "lumaris-update: bad option '%s'\n%s", arg.c_str(), USAGE);
            return false;
        }
    }
    return true;
}

// The built-in image as the program will load it, to learn its device type
// and to check the device against it afterwards.
bool LoadBuiltInImage(UpdateJob& image, uint8_t* type, size_t* lastPage) {
    CreateUpdateJob(image);
    std::memset(image.ImageBuffer, 0xFF, sizeof image.ImageBuffer);
    std::memset(image.PageMap, 0, sizeof image.PageMap);
    for (size_t i = 0; i < EMBEDDED_IMAGE_LENGTH; ++i) gEmbeddedPlainText[i] = UnscrambleByte(EMBEDDED_IMAGE[i]);
    if (!LoadHexText(image, gEmbeddedPlainText, EMBEDDED_IMAGE_LENGTH)) return false;
    *lastPage = HighestUsedPage(image.PageMap);
    *type = image.ImageBuffer[*lastPage * PAGE_SIZE + SIGNATURE_TYPE_OFFSET];
    return true;
}

// The last text drawn at the top line decides the exit code.
std::wstring gLastTopText;
void (*gConsoleDraw)(int, int, const wchar_t*, int) = nullptr;

void RecordingDraw(int x, int y, const wchar_t* text, int count) {
    if (y == 10) gLastTopText.assign(text, static_cast<size_t>(count));
    gConsoleDraw(x, y, text, count);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) return 2;

    auto image = std::make_unique<UpdateJob>();
    uint8_t imageType = 0;
    size_t imageLastPage = 0;
    if (!LoadBuiltInImage(*image, &imageType, &imageLastPage)) {
        std::fprintf(stderr, "lumaris-update: the built-in image does not load\n");
    }

    ConsolePlatformInstall(options.answers, stdout);
    gConsoleDraw = gUi.drawText;
    gUi.drawText = RecordingDraw;
    SimReset(gClock.tickCount);
    gSimBus.recordCalls = false;

    SimDevice* device = nullptr;
    if (!options.noDevice) {
        device = SimAddDevice();
        SimSetDeviceType(device, static_cast<uint8_t>(options.deviceType >= 0 ? options.deviceType : imageType));
        device->mode = device->backInMode = options.bootloader ? SimMode::Bootloader : SimMode::Application;
        device->replyDelayMs = options.replyDelayMs;
        device->eraseDelayMs = options.eraseDelayMs;
        std::memset(device->flash + 10 * SIM_PAGE_SIZE, 0x11, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
        SimSetInstalledApp(device, static_cast<uint8_t>(options.installed >> 8),
                           static_cast<uint8_t>(options.installed & 0xFF), !options.invalidApp);
        std::printf("device: simulated, type 0x%02X (last page %u), %s mode, installed version %u.%02X%s\n",
                    device->deviceType, device->lastPage, options.bootloader ? "bootloader" : "application",
                    options.installed >> 8, options.installed & 0xFF, options.invalidApp ? " (not valid)" : "");
    } else {
        std::printf("device: none attached\n");
    }
    std::printf("image:  built in, type 0x%02X, version %u.%02X, pages 10..%zu\n", imageType,
                image->ImageBuffer[imageLastPage * PAGE_SIZE + SIGNATURE_VERSION_HI_OFFSET],
                image->ImageBuffer[imageLastPage * PAGE_SIZE + SIGNATURE_VERSION_LO_OFFSET], imageLastPage);
    if (options.fault != SimFaultKind::None) {
        // Counted in packets: the number of receive-queue polls depends on
        // the real clock.
        SimSetFault(options.fault, options.faultCall);
        gSimBus.faultCountsWrites = true;
        std::printf("fault:  %s at packet %u\n", SimFaultName(options.fault), options.faultCall);
    }
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const uint32_t exitCode = UpdateWorker();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const bool ok = gLastTopText.rfind(L"OK", 0) == 0;
    std::printf("\nworker exit code %u; result: %s\n", exitCode, ok ? "OK" : "not updated");
    if (device) {
        unsigned verified = 0, carried = 0;
        for (size_t page = 10; page <= device->lastPage; ++page) {
            if (!image->PageMap[page]) continue;
            ++carried;
            const size_t base = page * PAGE_SIZE;
            // The device keeps its signature in the last two bytes of its last page.
            const size_t compared = page == device->lastPage ? SIM_SIGNATURE_OFFSET : PAGE_SIZE;
            verified += std::memcmp(device->flash + base, image->ImageBuffer + base, compared) == 0;
        }
        std::printf("summary: %u of %u pages programmed, %u verified against the image, signature %s, "
                    "%u library calls, %.2f s\n",
                    device->checksumsSent, carried, verified, SimHasValidApp(device) ? "valid" : "not valid",
                    gSimBus.callCount, seconds);
    } else {
        std::printf("summary: no device, %.2f s\n", seconds);
    }
    return ok ? 0 : 1;
}
