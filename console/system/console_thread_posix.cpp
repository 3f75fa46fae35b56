#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "console/system/console_thread.h"

struct ConsoleMonitor {
    std::mutex lock;
    std::condition_variable changed;
};

ConsoleMonitor* ConsoleMonitorCreate() { return new ConsoleMonitor; }

void ConsoleMonitorEnter(ConsoleMonitor* monitor) { monitor->lock.lock(); }

void ConsoleMonitorLeave(ConsoleMonitor* monitor) { monitor->lock.unlock(); }

void ConsoleMonitorWait(ConsoleMonitor* monitor, uint32_t ms) {
    std::unique_lock<std::mutex> held(monitor->lock, std::adopt_lock);
    monitor->changed.wait_for(held, std::chrono::milliseconds(ms));
    held.release();
}

void ConsoleMonitorNotifyAll(ConsoleMonitor* monitor) { monitor->changed.notify_all(); }

bool ConsoleThreadStart(void (*run)()) {
    try {
        std::thread(run).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
