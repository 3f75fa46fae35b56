#include "console/system/console_output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>

#include "console/system/console_platform.h"
#include "console/system/console_thread.h"

namespace {

struct Text {
    ConsoleStream stream;
    std::string text;
};

// What the thread shares with the callers, under `monitor`. Made once and
// never destroyed: the thread outlives main's return.
struct Shared {
    ConsoleMonitor* monitor;
    std::deque<Text> queue;
    size_t backlog = 0;  // bytes queued or being written
    bool writing = false;
    std::chrono::steady_clock::time_point moved;  // when the output last took a text
    uint32_t dropped = 0;
};
Shared* gShared = nullptr;  // set once the thread runs

std::FILE* FileOf(ConsoleStream stream) { return stream == ConsoleStream::Out ? stdout : stderr; }

// Writes and flushes; a failure of standard output is noted once on
// standard error (which has nowhere to note its own).
void Write(const Text& item) {
    static bool noted = false;
    std::FILE* file = FileOf(item.stream);
    ConsoleWrite(file, item.text.c_str());
    if (std::fflush(file) == 0 && !std::ferror(file)) return;
    const int error = errno;
    std::clearerr(file);
    if (item.stream != ConsoleStream::Out || noted) return;
    noted = true;
    ConsoleWrite(stderr, (std::string("lumaris-update: standard output cannot be written (") + std::strerror(error) +
                          "): the update goes on; its exit code tells the result\n")
                             .c_str());
    std::fflush(stderr);
}

void WriteQueued() {
    Shared& s = *gShared;
    ConsoleMonitorEnter(s.monitor);
    for (;;) {
        while (s.queue.empty()) ConsoleMonitorWait(s.monitor, 1000);
        const Text item = std::move(s.queue.front());
        s.queue.pop_front();
        s.writing = true;
        ConsoleMonitorLeave(s.monitor);
        Write(item);
        ConsoleMonitorEnter(s.monitor);
        s.writing = false;
        s.backlog -= item.text.size();
        s.moved = std::chrono::steady_clock::now();
        ConsoleMonitorNotifyAll(s.monitor);
    }
}

}  // namespace

void ConsoleOutputStart() {
    if (gShared) return;
    gShared = new Shared{ConsoleMonitorCreate(), {}, 0, false, std::chrono::steady_clock::now(), 0};
    if (ConsoleThreadStart(WriteQueued)) return;
    delete gShared;  // no thread: the callers write themselves
    gShared = nullptr;
}

bool ConsoleOutputPut(ConsoleStream stream, const std::string& text, bool progress) {
    if (!gShared) {
        Write(Text{stream, text});
        return true;
    }
    Shared& s = *gShared;
    ConsoleMonitorEnter(s.monitor);
    const bool late = s.backlog > 0 &&
                      std::chrono::steady_clock::now() - s.moved >= std::chrono::milliseconds(CONSOLE_OUTPUT_LATE_MS);
    const bool dropped = progress && (late || s.backlog >= CONSOLE_OUTPUT_BACKLOG);
    if (dropped) {
        ++s.dropped;
    } else {
        if (!s.writing && s.queue.empty()) s.moved = std::chrono::steady_clock::now();
        s.queue.push_back(Text{stream, text});
        s.backlog += text.size();
        ConsoleMonitorNotifyAll(s.monitor);
    }
    ConsoleMonitorLeave(s.monitor);
    return !dropped;
}

uint32_t ConsoleOutputDropped() {
    if (!gShared) return 0;
    ConsoleMonitorEnter(gShared->monitor);
    const uint32_t dropped = gShared->dropped;
    ConsoleMonitorLeave(gShared->monitor);
    return dropped;
}

bool ConsoleOutputDrain(bool (*giveUp)()) {
    if (!gShared) return true;
    Shared& s = *gShared;
    ConsoleMonitorEnter(s.monitor);
    bool written = true;
    while (s.writing || !s.queue.empty()) {
        ConsoleMonitorWait(s.monitor, 50);
        const auto still = std::chrono::steady_clock::now() - s.moved;
        if (still >= std::chrono::milliseconds(CONSOLE_OUTPUT_STUCK_MS) && giveUp()) {
            written = false;
            break;
        }
    }
    ConsoleMonitorLeave(s.monitor);
    return written;
}
