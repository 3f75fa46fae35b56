// The Linux bus: the simulated devices, built from the options that
// console/bus_sim_options.cpp parses.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bootloader/commands.h"
#include "console/bus.h"
#include "console/bus_sim_options.h"
#include "console/system/console_output.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "sim/sim_device.h"

namespace {

std::unique_ptr<UpdateJob> gImage;  // the built-in image, to compare the device with
std::vector<SimDevice*> gDevices;
std::vector<std::vector<uint8_t>> gInitialFlashes;

constexpr uint8_t OLD_FILL = 0x11;

void NoLine(const char*) {}

// The built-in image as the program loads it, without its loader line.
void LoadImage() {
    gImage = std::make_unique<UpdateJob>();
    CreateUpdateJob(*gImage);
    const OutputSeam saved = gOutput;
    gOutput = OutputSeam{NoLine};
    LoadEmbeddedImage(*gImage);
    gOutput = saved;
}

// Packets written with success to each device, by their first byte
// (commands only: not the page halves or the mode switch).
std::vector<std::array<uint32_t, 256>> gPacketsByCommand;
UsbLibrary gSimTable;

UsbStatus USB_CALL CountingWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* written,
                                 void* overlapped) {
    const UsbStatus status = gSimTable.write(handle, buffer, length, written, overlapped);
    if (status != USB_OK || length == 0 || length >= 32) return status;
    for (size_t i = 0; i < gSimBus.devices.size(); ++i) {
        const SimDevice& d = gSimBus.devices[i];
        if (d.open && d.handle == handle) ++gPacketsByCommand[i][static_cast<const uint8_t*>(buffer)[0]];
    }
    return status;
}

}  // namespace

namespace {

// A device with the run's delays, an old application of `installed` with a
// valid signature, and the rest of its flash filled.
SimDevice* AddDevice(uint8_t type, uint16_t installed) {
    SimDevice* d = SimAddDevice();
    SimSetDeviceType(d, type);
    d->replyDelayMs = gSim.replyDelayMs;
    d->eraseDelayMs = gSim.eraseDelayMs;
    d->rebootDelayMs = gSim.restartDelayMs;
    std::memset(d->flash + 10 * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, static_cast<uint8_t>(installed >> 8), static_cast<uint8_t>(installed & 0xFF), true);
    gDevices.push_back(d);
    return d;
}

// Off the bus until `afterMs` from now: it comes onto the bus as from a
// restart, in the mode it was given.
void PlugInLater(SimDevice* d, uint32_t afterMs) {
    d->present = false;
    d->backAt = gClock.tickCount() + afterMs;
    if (d->backAt == 0) d->backAt = 1;
}

// A --fault as the summary names it: its kind, its packet and whether it
// ever changed what a call did (a fault on a packet it cannot act on, such
// as a flipped bit in a packet without data, never does).
std::string FaultSummary(SimFaultKind kind, uint32_t packet, uint32_t acts) {
    if (kind == SimFaultKind::None) return "null";
    return std::string("{\"kind\":\"") + SimFaultName(kind) + "\",\"packet\":" + std::to_string(packet) +
           ",\"acted\":" + (acts > 0 ? "true" : "false") + "}";
}

}  // namespace

bool InstallBus(std::string* library, std::string*) {
    *library = "simulated";
    LoadImage();
    const ImageSummary image = SummariseImage(*gImage);
    SimReset(gClock.tickCount);
    gSimBus.recordCalls = false;
    if (gSim.summary) {
        gSimTable = gUsb;
        gUsb.write = CountingWrite;
    }
    const uint8_t firstType = static_cast<uint8_t>(gSim.deviceType >= 0 ? gSim.deviceType : image.type);
    if (!gSim.noDevice) {
        SimDevice* first = AddDevice(firstType, gSim.installed);
        first->mode = first->backInMode = gSim.bootloader ? SimMode::Bootloader : SimMode::Application;
        SimSetInstalledApp(first, static_cast<uint8_t>(gSim.installed >> 8),
                           static_cast<uint8_t>(gSim.installed & 0xFF), !gSim.invalidApp);
        if (gSim.plugInAfterMs != 0) PlugInLater(first, gSim.plugInAfterMs);
    }
    for (const ExtraDevice& extra : gSim.more) {
        SimDevice* d = AddDevice(extra.deviceType >= 0 ? static_cast<uint8_t>(extra.deviceType) : firstType,
                                 extra.installed >= 0 ? static_cast<uint16_t>(extra.installed) : gSim.installed);
        d->mode = d->backInMode = extra.kind == ExtraKind::Bootloader ? SimMode::Bootloader : SimMode::Application;
        if (extra.kind == ExtraKind::Unknown) SimSetAppName(d, "LX-7 sensor");
        if (extra.arrivesAfterMs != 0) PlugInLater(d, extra.arrivesAfterMs);
    }
    for (SimDevice* d : gDevices) gInitialFlashes.emplace_back(d->flash, d->flash + SIM_FLASH_SIZE);
    gPacketsByCommand.assign(gDevices.size(), {});
    for (const FaultOption& fault : gSim.faults) {
        if (fault.device >= 0) {
            SimDevice* d = gDevices[static_cast<size_t>(fault.device)];
            d->faultKind = fault.kind;
            d->faultPacket = fault.packet;
            continue;
        }
        // Counted in packets: the number of receive-queue polls depends on
        // the real clock.
        SimSetFault(fault.kind, fault.packet);
        gSimBus.faultCountsWrites = true;
    }
    return true;
}

void FinishBus() {
    if (!gSim.summary) return;
    if (gDevices.empty()) {
        ConsoleOutputPut(ConsoleStream::Err, "{\"sim_device\":null}\n", false);
        return;
    }
    for (size_t i = 0; i < gDevices.size(); ++i) {
        const SimDevice* d = gDevices[i];
        uint32_t pages = 0, matching = 0;
        for (size_t page = FIRST_APP_PAGE; page <= d->lastPage && page < PAGE_COUNT; ++page) {
            if (!gImage->PageMap[page]) continue;
            ++pages;
            const size_t base = page * PAGE_SIZE;
            // The device keeps its signature in the last two bytes of its last page.
            const size_t compared = page == d->lastPage ? SIM_SIGNATURE_OFFSET : PAGE_SIZE;
            matching += std::memcmp(d->flash + base, gImage->ImageBuffer + base, compared) == 0;
        }
        const bool changed = std::memcmp(d->flash, gInitialFlashes[i].data(), SIM_FLASH_SIZE) != 0;
        const uint32_t* packets = gPacketsByCommand[i].data();
        char line[512];
        std::snprintf(line, sizeof line,
                      "{\"sim_device\":%zu,\"image_pages\":%u,\"pages_matching_image\":%u,\"signature_valid\":%s,"
                      "\"flash_changed\":%s,\"flash_key_packets\":%u,\"erase_packets\":%u,\"halves_written\":%u,"
                      "\"signature_packets\":%u,\"run_commands\":%u,\"mode_switches\":%u,\"fault\":%s}\n",
                      i, pages, matching, SimHasValidApp(d) ? "true" : "false", changed ? "true" : "false",
                      packets[CMD_SET_FLASH_KEY], packets[CMD_ERASE_PAGE], d->halvesWritten,
                      packets[CMD_WRITE_SIGNATURE], d->runCommands, d->modeSwitches,
                      FaultSummary(d->faultKind, d->faultPacket, d->faultActs).c_str());
        ConsoleOutputPut(ConsoleStream::Err, line, false);
    }
    if (gSimBus.faultKind != SimFaultKind::None) {
        const std::string line =
            "{\"sim_bus\":true,\"fault\":" + FaultSummary(gSimBus.faultKind, gSimBus.faultCall, gSimBus.faultActs) +
            "}\n";
        ConsoleOutputPut(ConsoleStream::Err, line.c_str(), false);
    }
}
