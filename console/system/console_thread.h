// The few thread calls that console/system/console_output.cpp needs, one file per
// system (the MinGW build has no std::thread or std::mutex).
#pragma once

#include <cstdint>

// A lock and one condition to wait on under it.
struct ConsoleMonitor;

ConsoleMonitor* ConsoleMonitorCreate();
void ConsoleMonitorEnter(ConsoleMonitor* monitor);
void ConsoleMonitorLeave(ConsoleMonitor* monitor);
// Entered: leaves, waits for a notification or `ms`, enters again.
void ConsoleMonitorWait(ConsoleMonitor* monitor, uint32_t ms);
void ConsoleMonitorNotifyAll(ConsoleMonitor* monitor);

// Runs `run` on a thread of its own, never joined; false when none starts.
bool ConsoleThreadStart(void (*run)());
