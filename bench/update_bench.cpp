// The host's own cost of a firmware update, against the simulated device:
//  - on the virtual clock (every tick query advances it 1 ms, a sleep
//    advances it at once) with a device that answers at once, so that only
//    the host's work is left: CPU time, library calls and heap allocations
//    per update;
//  - on the real clock with a device that takes its time to answer: wall
//    time against the device's own time for the same exchange;
//  - the image step and the page checksum on their own.
// Prints one table (Markdown) on standard output when all have run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/heap_counter.h"
#include "bootloader/commands.h"
#include "console/system/console_platform.h"
#include "devicelink/device_link.h"
#include "flashing/flashing.h"
#include "image/embedded_image.h"
#include "image/image_validation.h"
#include "image/unscramble.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "sim/sim_device.h"
#include "tests/fake_platform.h"
#include "worker/update_worker.h"

namespace {

constexpr uint8_t OLD_FILL = 0x11;

// The device's timing in the real-clock runs.
constexpr uint32_t REAL_REPLY_MS = 1;
constexpr uint32_t REAL_ERASE_MS = 20;
constexpr uint32_t REAL_REBOOT_MS = 500;

constexpr int VIRTUAL_REPETITIONS = 11;
constexpr int REAL_REPETITIONS = 5;

// ---------------------------------------------------------------------------
// Images

// Images of the same shape whose data differ (the generator's seed): the
// runs take them in turn, so that the processor's branch predictors cannot
// learn one image's data by heart over the repeated runs.
constexpr unsigned SEEDS = 8;

struct BenchImage {
    const char* name;
    uint8_t deviceType;
    unsigned pages;                               // pages with data, ending at the signature page
    std::vector<std::vector<uint8_t>> scrambled;  // as the embedding tool would store them
    std::vector<uint8_t> plain;                   // the image step's work space
    size_t next = 0;                              // the one the next run takes
};

// The inverse of UNSCRAMBLE_TABLE: one scrambled value for each character.
std::vector<uint8_t> Scramble(const std::string& text) {
    uint8_t code[256] = {};
    for (unsigned v = SCRAMBLED_FIRST; v <= SCRAMBLED_LAST; ++v) {
        const uint8_t plain = UnscrambleByte(static_cast<uint8_t>(v));
        if (plain != 0 && code[plain] == 0) code[plain] = static_cast<uint8_t>(v);
    }
    std::vector<uint8_t> out(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out[i] = code[static_cast<uint8_t>(text[i])];
        if (out[i] == 0) {
            std::fprintf(stderr, "bench: character 0x%02X cannot be scrambled\n", static_cast<uint8_t>(text[i]));
            std::exit(2);
        }
    }
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "bench: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The type 0x84 images with data in the last `pages` pages, one per seed.
BenchImage ImagesOfSize(const char* name, unsigned pages) {
    BenchImage image{name, 0x84, pages, {}, {}};
    size_t longest = 0;
    for (unsigned seed = 1; seed <= SEEDS; ++seed) {
        const std::string path =
            std::string(LUMARIS_BENCH_IMAGES) + "/type84_pages" + name + "_seed" + std::to_string(seed) + ".hex";
        image.scrambled.push_back(Scramble(ReadFile(path)));
        longest = std::max(longest, image.scrambled.back().size());
    }
    image.plain.resize(longest);
    return image;
}

BenchImage EmbeddedImage() {
    BenchImage image{"demo", 0x83, 53, {{EMBEDDED_IMAGE, EMBEDDED_IMAGE + EMBEDDED_IMAGE_LENGTH}}, {}};
    image.plain.resize(EMBEDDED_IMAGE_LENGTH);
    return image;
}

// ---------------------------------------------------------------------------
// The update

// The image step of the benchmark's runs: the same descrambling pass into a
// work space as the embedded image gets, then the same preparation and
// validation (PrepareAndValidateText), on the image of this run.
BenchImage* gRunImage = nullptr;

void PrepareBenchImage(UpdateJob& job) {
    BenchImage& image = *gRunImage;
    const std::vector<uint8_t>& text = image.scrambled[image.next++ % image.scrambled.size()];
    const size_t length = text.size();
    for (size_t i = 0; i < length; ++i) image.plain[i] = UnscrambleByte(text[i]);
    PrepareAndValidateText(job, image.plain.data(), length);
}

// The worker's whole update with `image` in place of the embedded image.
uint32_t UpdateWithImage(BenchImage& image) {
    gRunImage = &image;
    return UpdateWorkerWith(PrepareBenchImage);
}

// A user interface that records nothing: questions are answered Yes, and
// only whether the last top-line text was "OK" is kept.
bool gDrewOk = false;

int QuietBox(const wchar_t*, const wchar_t*, unsigned style) {
    return (style & 0x0F) == BOX_YESNO ? ANSWER_YES : ANSWER_OK;
}

void QuietDraw(int, int y, const wchar_t* text, int count) {
    if (y == 10) gDrewOk = count >= 2 && text[0] == L'O' && text[1] == L'K';
}

// The simulated device's clock in the real-clock runs: microseconds of the
// same steady clock as the host's tick count, so that its delays are kept
// exactly instead of being rounded to the host's millisecond tick.
const auto gDeviceEpoch = std::chrono::steady_clock::now();

uint32_t DeviceMicroseconds() {
    const auto elapsed = std::chrono::steady_clock::now() - gDeviceEpoch;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

enum class Clock { Virtual, Real };

// A device in its application mode with an older valid application, of the
// image's type, that also answers the mode-switch packet.
SimDevice* SetUpWorld(Clock clock, uint8_t deviceType) {
    if (clock == Clock::Virtual) {
        FakePlatformInstall(1000);
        SimReset(FakeClockPeek);
    } else {
        ConsolePlatformInstall(ConsoleAnswers::Yes, stdout);
        SimReset(DeviceMicroseconds);
    }
    gUi = UiSeam{.messageBox = QuietBox, .drawText = QuietDraw};
    gDrewOk = false;
    gSimBus.recordCalls = false;

    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = SimMode::Application;
    SimSetDeviceType(d, deviceType);
    d->replyToModeSwitch = true;
    if (clock == Clock::Real) {  // the device's clock counts microseconds
        d->replyDelayMs = REAL_REPLY_MS * 1000;
        d->eraseDelayMs = REAL_ERASE_MS * 1000;
        d->rebootDelayMs = REAL_REBOOT_MS * 1000;
    }
    std::memset(d->flash + 10 * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, 0x00, 0x90, true);
    return d;
}

bool Updated(const SimDevice* d, unsigned pages) {
    return gDrewOk && SimHasValidApp(d) && d->checksumsSent == pages && d->runCommands == 1;
}

// The device's own time for one update on the real clock, in ms: the reply
// delay of every packet answered (all but the run command; the device
// answers the mode switch), the erase time of every page erased, and the
// worker's wait while the device restarts.
double DeviceOwnMs(const SimDevice* d) {
    const uint32_t answered = gSimBus.writeCount - d->runCommands;
    return static_cast<double>(answered) * REAL_REPLY_MS + static_cast<double>(d->pagesErased) * REAL_ERASE_MS +
           RESTART_WAIT_MS;
}

// Time spent inside the simulated device: a library table that forwards to
// the device and adds up the time of every call, counted in the processor's
// time-stamp counter where there is one.
#if defined(__x86_64__) || defined(__i386__)
uint64_t Stamp() { return __builtin_ia32_rdtsc(); }
#else
uint64_t Stamp() { return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()); }
#endif

uint64_t gDeviceStamps = 0;

struct StampScope {
    uint64_t start = Stamp();
    ~StampScope() { gDeviceStamps += Stamp() - start; }
};

UsbStatus USB_CALL TimedDeviceCount(uint32_t* count) {
    StampScope scope;
    return SIM_USB_LIBRARY.getDeviceCount(count);
}
UsbStatus USB_CALL TimedDeviceString(uint32_t index, void* buffer, uint32_t selector) {
    StampScope scope;
    return SIM_USB_LIBRARY.getDeviceString(index, buffer, selector);
}
UsbStatus USB_CALL TimedOpen(uint32_t index, DeviceHandle* handle) {
    StampScope scope;
    return SIM_USB_LIBRARY.open(index, handle);
}
UsbStatus USB_CALL TimedClose(DeviceHandle handle) {
    StampScope scope;
    return SIM_USB_LIBRARY.close(handle);
}
UsbStatus USB_CALL TimedRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead, void* o) {
    StampScope scope;
    return SIM_USB_LIBRARY.read(handle, buffer, length, bytesRead, o);
}
UsbStatus USB_CALL TimedWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesWritten, void* o) {
    StampScope scope;
    return SIM_USB_LIBRARY.write(handle, buffer, length, bytesWritten, o);
}
UsbStatus USB_CALL TimedSetup(DeviceHandle handle, uint32_t first, uint32_t second) {
    StampScope scope;
    return SIM_USB_LIBRARY.setup(handle, first, second);
}
UsbStatus USB_CALL TimedQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting, uint32_t* queueStatus) {
    StampScope scope;
    return SIM_USB_LIBRARY.queryRxQueue(handle, bytesWaiting, queueStatus);
}

const UsbLibrary TIMED_SIM_LIBRARY = {TimedDeviceCount, TimedDeviceString, TimedOpen,  TimedClose,
                                      TimedRead,        TimedWrite,        TimedSetup, TimedQueryRxQueue};

// The share of an update's time that the simulated device takes (its
// bitwise checksum of every page written is most of it), measured apart
// from the CPU-time runs so that the stamps do not weigh on those.
void DeviceShare(benchmark::State& state, BenchImage* image) {
    double share = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const SimDevice* d = SetUpWorld(Clock::Virtual, image->deviceType);
        gUsb = TIMED_SIM_LIBRARY;
        gDeviceStamps = 0;
        state.ResumeTiming();
        const uint64_t start = Stamp();
        UpdateWithImage(*image);
        const uint64_t total = Stamp() - start;
        if (!Updated(d, image->pages)) {
            state.SkipWithError("the update did not end with OK over an updated device");
            break;
        }
        share += static_cast<double>(gDeviceStamps) / static_cast<double>(total);
    }
    state.counters["device_share"] = benchmark::Counter(share, benchmark::Counter::kAvgIterations);
}

enum class Road { Mirror, Worker };

void UpdateOnVirtualClock(benchmark::State& state, BenchImage* image) {
    double calls = 0, ticks = 0, allocations = 0, bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const SimDevice* d = SetUpWorld(Clock::Virtual, image->deviceType);
        state.ResumeTiming();
        const HeapCount start = HeapCountNow();
        UpdateWithImage(*image);
        const HeapCount used = HeapCountSince(start);
        if (!Updated(d, image->pages)) {
            state.SkipWithError("the update did not end with OK over an updated device");
            break;
        }
        calls += gSimBus.callCount;
        ticks += static_cast<double>(gFake.tickQueries);
        allocations += static_cast<double>(used.allocations);
        bytes += static_cast<double>(used.bytes);
    }
    state.counters["calls"] = benchmark::Counter(calls, benchmark::Counter::kAvgIterations);
    state.counters["ticks"] = benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
    state.counters["allocs"] = benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
    state.counters["alloc_bytes"] = benchmark::Counter(bytes, benchmark::Counter::kAvgIterations);
}

void UpdateOnRealClock(benchmark::State& state, BenchImage* image) {
    double wallMs = 0, deviceMs = 0, allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const SimDevice* d = SetUpWorld(Clock::Real, image->deviceType);
        state.ResumeTiming();
        const HeapCount start = HeapCountNow();
        const auto begin = std::chrono::steady_clock::now();
        UpdateWithImage(*image);
        const auto end = std::chrono::steady_clock::now();
        const HeapCount used = HeapCountSince(start);
        if (!Updated(d, image->pages)) {
            state.SkipWithError("the update did not end with OK over an updated device");
            break;
        }
        wallMs += std::chrono::duration<double, std::milli>(end - begin).count();
        deviceMs += DeviceOwnMs(d);
        allocations += static_cast<double>(used.allocations);
    }
    state.counters["wall_ms"] = benchmark::Counter(wallMs, benchmark::Counter::kAvgIterations);
    state.counters["device_ms"] = benchmark::Counter(deviceMs, benchmark::Counter::kAvgIterations);
    state.counters["overhead"] = benchmark::Counter(deviceMs > 0 ? wallMs / deviceMs : 0);
    state.counters["allocs"] = benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The worker with the benchmark's image step against UpdateWorker itself, on
// the embedded image,
// taken in turn within each repetition so that both see the same machine.
void MirrorAgainstWorker(benchmark::State& state, BenchImage* demo) {
    double mirror = 0, worker = 0, mirrorCalls = 0, workerCalls = 0, workerAllocations = 0;
    for (auto _ : state) {
        for (Road road : {Road::Mirror, Road::Worker}) {
            const SimDevice* d = SetUpWorld(Clock::Virtual, demo->deviceType);
            const HeapCount heap = HeapCountNow();
            const double start = ThreadCpuSeconds();
            if (road == Road::Mirror) {
                UpdateWithImage(*demo);
            } else {
                UpdateWorker();
            }
            const double used = ThreadCpuSeconds() - start;
            const uint64_t allocations = HeapCountSince(heap).allocations;
            if (!Updated(d, demo->pages)) {
                state.SkipWithError("the update did not end with OK over an updated device");
                return;
            }
            (road == Road::Mirror ? mirror : worker) += used;
            (road == Road::Mirror ? mirrorCalls : workerCalls) += gSimBus.callCount;
            if (road == Road::Worker) workerAllocations += static_cast<double>(allocations);
        }
    }
    state.counters["mirror_per_worker"] = benchmark::Counter(worker > 0 ? mirror / worker : 0);
    state.counters["worker_us"] = benchmark::Counter(worker * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["mirror_calls"] = benchmark::Counter(mirrorCalls, benchmark::Counter::kAvgIterations);
    state.counters["worker_calls"] = benchmark::Counter(workerCalls, benchmark::Counter::kAvgIterations);
    state.counters["worker_allocs"] = benchmark::Counter(workerAllocations, benchmark::Counter::kAvgIterations);
}

UpdateJob gImageJob;

void LoadEmbeddedImage(benchmark::State& state) {
    CreateUpdateJob(gImageJob);
    gImageJob.info.deviceType = 0x83;
    gImageJob.lastPage = 62;
    for (auto _ : state) {
        deviceReady = 1;
        PrepareAndValidateImage(gImageJob);
        if (deviceReady != 1) {
            state.SkipWithError("the embedded image was refused");
            break;
        }
    }
}

void PageChecksum(benchmark::State& state) {
    uint8_t page = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(PageCrc(gImageJob, page));
        page = page == 62 ? 10 : static_cast<uint8_t>(page + 1);
    }
}

// ---------------------------------------------------------------------------
// Results

struct Sample {
    double cpuSeconds;   // per iteration
    double realSeconds;  // per iteration
    std::map<std::string, double> counters;
};

// Keeps every repetition of every benchmark; the table is made from them.
class CollectingReporter : public benchmark::BenchmarkReporter {
   public:
    std::map<std::string, std::vector<Sample>> samples;
    std::vector<std::string> errors;
    int cpus = 0;

    bool ReportContext(const Context& context) override {
        cpus = context.cpu_info.num_cpus;
        return true;
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                errors.push_back(run.benchmark_name() + ": " + run.error_message);
                continue;
            }
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            Sample s{run.cpu_accumulated_time / static_cast<double>(run.iterations),
                     run.real_accumulated_time / static_cast<double>(run.iterations),
                     {}};
            for (const auto& [name, counter] : run.counters) s.counters[name] = counter.value;
            samples[run.run_name.function_name].push_back(s);
        }
    }
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    double median = 0, low = 0, high = 0;
    size_t count = 0;
};

template <typename Pick>
Summary Summarise(const std::vector<Sample>& samples, Pick pick) {
    std::vector<double> values;
    for (const Sample& s : samples) values.push_back(pick(s));
    Summary out;
    out.count = values.size();
    if (values.empty()) return out;
    out.median = Median(values);
    out.low = *std::min_element(values.begin(), values.end());
    out.high = *std::max_element(values.begin(), values.end());
    return out;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown CPU";
}

double LoadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Allocations made by the very first update of the process (before any
// warm-up), on the virtual clock, by the worker itself and with the
// benchmark's image step.
struct FirstRun {
    uint64_t worker = 0, mirror = 0;
};

FirstRun MeasureFirstRuns(BenchImage& demo, BenchImage& large) {
    FirstRun out;
    const SimDevice* d = SetUpWorld(Clock::Virtual, demo.deviceType);
    HeapCount start = HeapCountNow();
    UpdateWorker();
    out.worker = HeapCountSince(start).allocations;
    if (!Updated(d, demo.pages)) std::fprintf(stderr, "bench: the first worker run did not update the device\n");
    d = SetUpWorld(Clock::Virtual, large.deviceType);
    start = HeapCountNow();
    UpdateWithImage(large);
    out.mirror = HeapCountSince(start).allocations;
    if (!Updated(d, large.pages))
        std::fprintf(stderr, "bench: the first run with the benchmark's image step did not update the device\n");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // Everything the runs print (the loader writes a line to standard output
    // on every load) goes to /dev/null; the table goes to the real output.
    std::fflush(stdout);
    const int table = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (table < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) {
        std::perror("bench: redirecting standard output");
        return 2;
    }
    close(null);

    BenchImage demo = EmbeddedImage();
    std::vector<BenchImage> sizes;
    sizes.push_back(ImagesOfSize("10", 10));
    sizes.push_back(ImagesOfSize("50", 50));
    sizes.push_back(ImagesOfSize("115", 115));

    const double loadBefore = LoadAverage();
    const FirstRun firstRun = MeasureFirstRuns(demo, sizes.back());

    benchmark::Initialize(&argc, argv);
    for (BenchImage& image : sizes) {
        benchmark::RegisterBenchmark((std::string("virtual/pages:") + image.name).c_str(), UpdateOnVirtualClock, &image)
            ->Unit(benchmark::kMicrosecond)
            ->MinTime(0.2)
            ->Repetitions(VIRTUAL_REPETITIONS);
    }
    for (BenchImage& image : sizes) {
        benchmark::RegisterBenchmark((std::string("device-share/pages:") + image.name).c_str(), DeviceShare, &image)
            ->Unit(benchmark::kMicrosecond)
            ->MinTime(0.2)
            ->Repetitions(VIRTUAL_REPETITIONS);
    }
    benchmark::RegisterBenchmark("virtual/demo-mirror-and-worker", MirrorAgainstWorker, &demo)
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.2)
        ->Repetitions(VIRTUAL_REPETITIONS);
    benchmark::RegisterBenchmark("image/load-embedded", LoadEmbeddedImage)
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.2)
        ->Repetitions(VIRTUAL_REPETITIONS);
    benchmark::RegisterBenchmark("image/page-crc", PageChecksum)->MinTime(0.1)->Repetitions(VIRTUAL_REPETITIONS);
    for (BenchImage& image : sizes) {
        benchmark::RegisterBenchmark((std::string("real/pages:") + image.name).c_str(), UpdateOnRealClock, &image)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->Repetitions(REAL_REPETITIONS)
            ->UseRealTime();
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double loadAfter = LoadAverage();

    std::fflush(stdout);
    dup2(table, STDOUT_FILENO);
    close(table);

    auto& s = reporter.samples;
    auto cpuUs = [](const Sample& x) { return x.cpuSeconds * 1e6; };
    auto counter = [](const char* name) { return [name](const Sample& x) { return x.counters.at(name); }; };
    auto cell = [](const Summary& v, const char* format) {
        return v.count ? Format(format, v.median) : std::string("n/a");
    };

    std::printf("Lumaris Update benchmark: %s, %d CPUs, load average %.2f before and %.2f after; %s\n\n",
                CpuModel().c_str(), reporter.cpus, loadBefore, loadAfter, "g++ " __VERSION__ ", Release");

    std::printf("| Whole update of a type 0x84 device (last page 124) | 10 pages | 50 pages | 115 pages |\n");
    std::printf("|---|---:|---:|---:|\n");
    std::printf("| **Virtual clock, device answers at once** (median of %d repetitions) | | | |\n",
                VIRTUAL_REPETITIONS);
    std::vector<Summary> cpu, share, calls, ticks, allocs, overhead, exchange, device, realAllocs;
    std::vector<double> own;
    auto exchangeRatio = [](const Sample& x) {
        return (x.counters.at("wall_ms") - RESTART_WAIT_MS) / (x.counters.at("device_ms") - RESTART_WAIT_MS);
    };
    for (const BenchImage& image : sizes) {
        const auto& v = s[std::string("virtual/pages:") + image.name];
        cpu.push_back(Summarise(v, cpuUs));
        share.push_back(Summarise(s[std::string("device-share/pages:") + image.name], counter("device_share")));
        own.push_back(cpu.back().median * (1 - share.back().median));
        calls.push_back(Summarise(v, counter("calls")));
        ticks.push_back(Summarise(v, counter("ticks")));
        allocs.push_back(Summarise(v, counter("allocs")));
        const auto& r = s[std::string("real/pages:") + image.name];
        overhead.push_back(Summarise(r, counter("overhead")));
        exchange.push_back(Summarise(r, exchangeRatio));
        device.push_back(Summarise(r, counter("device_ms")));
        realAllocs.push_back(Summarise(r, counter("allocs")));
    }
    auto row3 = [](const char* what, const std::vector<std::string>& cells) {
        std::printf("| %s | %s | %s | %s |\n", what, cells[0].c_str(), cells[1].c_str(), cells[2].c_str());
    };
    auto each = [](const std::vector<Summary>& v, auto text) {
        std::vector<std::string> out;
        for (const Summary& x : v) out.push_back(x.count ? text(x) : std::string("n/a"));
        return out;
    };
    auto median = [](const char* format) { return [format](const Summary& x) { return Format(format, x.median); }; };
    auto highest = [](const Summary& x) { return Format("%.0f", x.high); };
    auto spread = [](const Summary& x) {
        return Format("%.4f", x.median) + Format(" [%.4f, ", x.low) + Format("%.4f]", x.high);
    };

    row3("CPU time per update, host and simulated device together", each(cpu, median("%.0f us")));
    row3("... share of it inside the simulated device",
         each(share, [](const Summary& x) { return Format("%.0f %%", 100 * x.median); }));
    row3("**host's own CPU time per update** (the above less the device's share)",
         {Format("%.0f us", own[0]), Format("%.0f us", own[1]), Format("%.0f us", own[2])});
    const double ownSlopeLow = (own[1] - own[0]) / 40.0;
    const double ownSlopeHigh = (own[2] - own[1]) / 65.0;
    row3("host's own CPU time per added page (from the previous column)",
         {"", Format("%.1f us", ownSlopeLow), Format("%.1f us", ownSlopeHigh)});
    row3("library calls per update", each(calls, median("%.0f")));
    row3("tick queries per update", each(ticks, median("%.0f")));
    row3("**heap allocations from start to end of a run** (highest of all runs)", each(allocs, highest));
    std::printf("| **Real clock, device answers after %u ms, a page erase after %u ms more** (median of %d) | | | |\n",
                REAL_REPLY_MS, REAL_ERASE_MS, REAL_REPETITIONS);
    row3("device's own time: packets answered x 1 ms + pages erased x 20 ms + the 2,000 ms wait",
         each(device, median("%.0f ms")));
    row3("**host overhead ratio: wall time / device's own time** [lowest, highest]", each(overhead, spread));
    row3("the same without the 2,000 ms wait on either side [lowest, highest]", each(exchange, spread));
    row3("heap allocations from start to end of a run (highest)", each(realAllocs, highest));
    std::printf("\n");

    const Summary load = Summarise(s["image/load-embedded"], cpuUs);
    const Summary crc = Summarise(s["image/page-crc"], [](const Sample& x) { return x.cpuSeconds * 1e9; });
    const auto& pair = s["virtual/demo-mirror-and-worker"];
    const Summary worker = Summarise(pair, counter("worker_us"));
    const Summary mirrorPerWorker = Summarise(pair, counter("mirror_per_worker"));
    const Summary mirrorCalls = Summarise(pair, counter("mirror_calls"));
    const Summary workerCalls = Summarise(pair, counter("worker_calls"));
    const Summary workerAllocs = Summarise(pair, counter("worker_allocs"));
    std::printf("| Parts and checks (median of %d) | |\n", VIRTUAL_REPETITIONS);
    std::printf("|---|---:|\n");
    std::printf("| descramble, load and validate the embedded image (%zu characters, 53 pages) | %s (%s MB/s) |\n",
                EMBEDDED_IMAGE_LENGTH, cell(load, "%.0f us").c_str(),
                Format("%.0f", load.median > 0 ? static_cast<double>(EMBEDDED_IMAGE_LENGTH) / load.median : 0).c_str());
    std::printf("| PageCrc of one 512-byte page | %s |\n", cell(crc, "%.0f ns").c_str());
    std::printf("| UpdateWorker itself, 53-page demo image, virtual clock: CPU time | %s |\n",
                cell(worker, "%.0f us").c_str());
    std::printf(
        "| ... the same worker with the benchmark's image step, same image, run in turn: CPU time ratio | %s |\n",
        cell(mirrorPerWorker, "%.3f").c_str());
    std::printf("| ... library calls, embedded image step / benchmark's image step | %.0f / %.0f |\n",
                workerCalls.median, mirrorCalls.median);
    std::printf("| ... heap allocations from start to end of a worker run (highest) | %.0f |\n", workerAllocs.high);
    std::printf(
        "| heap allocations in the first run of the process: embedded image step / benchmark's | %llu / %llu |\n",
        static_cast<unsigned long long>(firstRun.worker), static_cast<unsigned long long>(firstRun.mirror));
    std::printf("| linearity: host's own CPU time per added page, 50..115 pages over 10..50 pages | %.3f |\n",
                ownSlopeLow > 0 ? ownSlopeHigh / ownSlopeLow : 0);

    for (const std::string& error : reporter.errors) std::printf("\nERROR %s\n", error.c_str());
    return reporter.errors.empty() ? 0 : 1;
}
