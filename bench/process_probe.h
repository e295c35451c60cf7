// SPDX-License-Identifier: Apache-2.0
#pragma once

// Start-up, CPU time and memory of a program from the outside: the program is started on an
// X display and timed from the moment it is started to the moment its window is mapped; CPU
// time and peak memory are read from /proc while it runs. Nothing inside the program is
// touched, so the panel and the bare window are measured the same way.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pj::bench {

struct Started {
    pid_t pid = -1;
    double startupMs = 0;  // from just before the fork to the window's MapNotify
    int width = 0;         // of the mapped window, in pixels
    int height = 0;
};

class DisplayWatch {
  public:
    // Connects to the display named by $DISPLAY and watches the root window's children.
    DisplayWatch();
    ~DisplayWatch();
    DisplayWatch(const DisplayWatch&) = delete;
    DisplayWatch& operator=(const DisplayWatch&) = delete;

    bool connected() const { return display_ != nullptr; }

    // Starts `argv` (argv[0] is the program's path) with $DISPLAY set and QT_QPA_PLATFORM=xcb,
    // and waits up to `timeoutMs` for a top-level window of the new process to be mapped.
    // On a time-out the process is stopped and nothing is returned.
    std::optional<Started> start(const std::vector<std::string>& argv, int timeoutMs);

  private:
    bool ownedBy(unsigned long window, pid_t pid);

    void* display_ = nullptr;  // the Xlib connection
    unsigned long pidAtom_ = 0;
};

// CPU time the process has used, summed over its live threads (scheduler statistics, in
// nanoseconds, given in milliseconds).
double cpuMs(pid_t pid);
// The same from /proc/PID/stat (user + system, whole process), in clock ticks.
long cpuTicks(pid_t pid);
// Peak resident memory (VmHWM), in kilobytes; 0 when unknown.
long peakKb(pid_t pid);
// Current resident memory (VmRSS), in kilobytes; 0 when unknown.
long residentKb(pid_t pid);
// Resident memory now (kilobytes), by what it holds.
struct MemoryKinds {
    long fontsKb = 0;                       // font files mapped by the text rendering
    long librariesKb = 0;                   // shared libraries and plugins: code and their data
    long otherKb = 0;                       // heap, stacks and other private or shared memory
    std::map<std::string, long> libraries;  // resident kilobytes by library file name
};
MemoryKinds residentByKind(pid_t pid);
// Asks the process to end, and ends it if it has not within a second; reaps it.
void stopProcess(pid_t pid);

}  // namespace pj::bench
