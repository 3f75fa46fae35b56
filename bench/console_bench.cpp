// The console program's side of an update, against the simulated device:
//  - the restart wait: the whole update of the demo image on the real clock
//    with the fixed 2,000 ms wait and with the polled wait (auto), against a
//    device that restarts in 500 ms: wall time over the device's own time,
//    and the time the polled wait saves;
//  - the console front end's own cost: CPU time per update on the virtual
//    clock with the window program's empty event table, with the console's
//    human output and with its JSON lines (standard output to /dev/null).
// Prints one table (Markdown).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "console/report.h"
#include "console/system/console_platform.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "sim/sim_device.h"
#include "tests/fake_platform.h"
#include "worker/update_worker.h"

namespace {

RunRecord gBenchRun;

constexpr uint32_t REPLY_MS = 1;
constexpr uint32_t ERASE_MS = 20;
constexpr uint32_t RESTART_MS = 500;
constexpr int REAL_REPETITIONS = 5;
constexpr int CPU_REPETITIONS = 11;
constexpr int UPDATES_PER_CPU_REPETITION = 40;
constexpr uint8_t OLD_FILL = 0x11;

// The device's clock on the real clock: microseconds of the host's steady
// clock, so that its delays are exact.
const auto gEpoch = std::chrono::steady_clock::now();
uint32_t DeviceMicroseconds() {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - gEpoch).count());
}

int QuietBox(const wchar_t*, const wchar_t*, unsigned style) {
    return (style & 0x0F) == BOX_YESNO ? ANSWER_YES : ANSWER_OK;
}
void QuietDraw(int, int, const wchar_t*, int) {}
void QuietLine(const char*) {}

// A device of the demo image's type in its application mode with an older
// valid application; on the real clock its delays are in microseconds.
SimDevice* AddDevice(bool realClock) {
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = SimMode::Application;
    SimSetDeviceType(d, 0x83);
    d->replyToModeSwitch = true;
    const uint32_t scale = realClock ? 1000 : 1;
    d->replyDelayMs = realClock ? REPLY_MS * scale : 0;
    d->eraseDelayMs = realClock ? ERASE_MS * scale : 0;
    d->rebootDelayMs = RESTART_MS * scale;
    std::memset(d->flash + 10 * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, 0x00, 0x5A, true);
    return d;
}

bool Updated(const SimDevice* d) { return SimHasValidApp(d) && d->checksumsSent == 53 && d->runCommands == 1; }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct RealRun {
    double wallMs;
    double deviceMs;  // its own time: replies, erases and the wait it needs (its restart, or the fixed wait)
};

RealRun UpdateOnRealClock(const RestartWait& wait) {
    ConsoleSystemInstall();
    gUi = UiSeam{.messageBox = QuietBox, .drawText = QuietDraw};
    gOutput = OutputSeam{QuietLine};
    gEvents = IgnoreUpdateEvent;
    SimReset(DeviceMicroseconds);
    gSimBus.recordCalls = false;
    SimDevice* d = AddDevice(true);
    const auto begin = std::chrono::steady_clock::now();
    RunWorker(UpdateSteps(wait));
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    if (!Updated(d)) {
        std::fprintf(stderr, "console bench: the update did not program the device\n");
        return {0, 0};
    }
    const uint32_t answered = gSimBus.writeCount - d->runCommands;
    const double waited = wait.untilBootloader ? RESTART_MS : wait.milliseconds;
    return {wall, answered * REPLY_MS + d->pagesErased * double{ERASE_MS} + waited};
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

enum class Front { None, Human, Json };

// CPU time of one update on the virtual clock, in microseconds, with the
// given front end reporting it.
double UpdateCpuUs(Front front) {
    double total = 0;
    for (int i = 0; i < UPDATES_PER_CPU_REPETITION; ++i) {
        FakePlatformInstall(1000);
        if (front == Front::None) {
            gUi = UiSeam{.messageBox = QuietBox, .drawText = QuietDraw};
            gOutput = OutputSeam{QuietLine};
            gEvents = IgnoreUpdateEvent;
        } else {
            ReportInstall(ReportSettings{.json = front == Front::Json,
                                         .verbosity = ConsoleVerbosity::Normal,
                                         .answers = ConsoleAnswerMode::Yes,
                                         .stdinIsTerminal = false,
                                         .stdoutIsTerminal = false,
                                         .log = false},
                          &gBenchRun);
        }
        SimReset(FakeClockPeek);
        gSimBus.recordCalls = false;
        SimDevice* d = AddDevice(false);
        const double start = ThreadCpuSeconds();
        UpdateWorker();
        total += ThreadCpuSeconds() - start;
        if (!Updated(d)) std::fprintf(stderr, "console bench: the update did not program the device\n");
    }
    return total / UPDATES_PER_CPU_REPETITION * 1e6;
}

}  // namespace

int main() {
    // What the runs print goes to /dev/null; the table to the real output.
    std::fflush(stdout);
    const int table = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (table < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) return 2;
    close(null);

    // The front ends in turn within each repetition, so that all see the same machine.
    std::vector<double> none, human, json, humanRatio, jsonRatio;
    for (int r = 0; r < CPU_REPETITIONS; ++r) {
        none.push_back(UpdateCpuUs(Front::None));
        human.push_back(UpdateCpuUs(Front::Human));
        json.push_back(UpdateCpuUs(Front::Json));
        humanRatio.push_back(human.back() / none.back());
        jsonRatio.push_back(json.back() / human.back());
    }

    std::vector<double> fixedWall, fixedRatio, autoWall, autoRatio, autoDevice, saved;
    for (int r = 0; r < REAL_REPETITIONS; ++r) {
        const RealRun fixed = UpdateOnRealClock(FIXED_RESTART_WAIT);
        const RealRun polled = UpdateOnRealClock(RestartWait{RESTART_POLL_LIMIT_MS, true, false});
        fixedWall.push_back(fixed.wallMs);
        fixedRatio.push_back(fixed.deviceMs > 0 ? fixed.wallMs / fixed.deviceMs : 0);
        autoWall.push_back(polled.wallMs);
        autoDevice.push_back(polled.deviceMs);
        autoRatio.push_back(polled.deviceMs > 0 ? polled.wallMs / polled.deviceMs : 0);
        saved.push_back(fixed.wallMs - polled.wallMs);
    }

    std::fflush(stdout);
    dup2(table, STDOUT_FILENO);
    close(table);

    auto spread = [](const std::vector<double>& v, const char* format) {
        char text[96];
        const std::string f = std::string(format) + " [" + format + ", " + format + "]";
        std::snprintf(text, sizeof text, f.c_str(), Median(v), *std::min_element(v.begin(), v.end()),
                      *std::max_element(v.begin(), v.end()));
        return std::string(text);
    };
    std::printf(
        "| Whole update of the demo image (53 pages), device restarts in %u ms (median of %d) [lowest, highest] | |\n",
        RESTART_MS, REAL_REPETITIONS);
    std::printf("|---|---:|\n");
    std::printf("| fixed 2,000 ms wait: wall time | %s |\n", spread(fixedWall, "%.0f ms").c_str());
    std::printf("| ... wall time / device's own time (replies, erases, the 2,000 ms wait) | %s |\n",
                spread(fixedRatio, "%.4f").c_str());
    std::printf("| `--restart-wait auto`: wall time | %s |\n", spread(autoWall, "%.0f ms").c_str());
    std::printf("| ... device's own time (replies, erases, its %u ms restart) | %s |\n", RESTART_MS,
                spread(autoDevice, "%.0f ms").c_str());
    std::printf("| ... **wall time / device's own time** | %s |\n", spread(autoRatio, "%.4f").c_str());
    std::printf("| **time saved by auto** (fixed less auto, per run) | %s |\n", spread(saved, "%.0f ms").c_str());
    std::printf("\n");
    std::printf("| Console front end, virtual clock, device answers at once (median of %d x %d updates) | |\n",
                CPU_REPETITIONS, UPDATES_PER_CPU_REPETITION);
    std::printf("|---|---:|\n");
    std::printf("| CPU time per update, empty event table (the window program's) | %.0f us |\n", Median(none));
    std::printf("| ... with the console's human output | %.0f us |\n", Median(human));
    std::printf("| ... with `--json` (one line per event, 53 page events) | %.0f us |\n", Median(json));
    std::printf("| human output / empty table (per repetition) | %s |\n", spread(humanRatio, "%.2f").c_str());
    std::printf("| **`--json` / human output** (per repetition) | %s |\n", spread(jsonRatio, "%.2f").c_str());
    return 0;
}
