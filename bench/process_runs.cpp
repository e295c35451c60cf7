// SPDX-License-Identifier: Apache-2.0
#include "process_runs.h"

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "sim/line_server.h"

namespace pj::bench {

namespace {

Started startProgram(DisplayWatch& watch, const std::vector<std::string>& argv) {
    auto started = watch.start(argv, 30'000);
    if (!started) {
        std::fprintf(stderr, "pjtiming: %s did not show a window\n", argv[0].c_str());
        std::exit(1);
    }
    return *started;
}

}  // namespace

std::vector<ProcessRun> processRuns(const Options& o) {
    DisplayWatch watch;
    if (!watch.connected()) {
        std::fprintf(stderr, "pjtiming: no X display (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
        std::exit(2);
    }
    // The panel's port: a simulator in this process, outside the measured program.
    pj::sim::LineServer server(pj::sim::LineOptions{});
    if (server.start()) {
        std::fprintf(stderr, "pjtiming: the simulator did not start\n");
        std::exit(2);
    }
    std::array<std::vector<std::string>, kPrograms> argv;
    argv[kPanel] = {o.panel, "--port1", server.path()};

    // One start of each to warm the file cache, and to learn the size of the panel's window.
    const Started first = startProgram(watch, argv[kPanel]);
    stopProcess(first.pid);
    argv[kBare] = {o.bare, std::to_string(first.width), std::to_string(first.height)};
    argv[kBareText] = argv[kBare];
    argv[kBareText].push_back("--text");
    stopProcess(startProgram(watch, argv[kBare]).pid);
    stopProcess(startProgram(watch, argv[kBareText]).pid);
    std::fprintf(stderr, "panel window %dx%d; the bare windows are made the same size\n",
                 first.width, first.height);

    std::vector<ProcessRun> runs;
    for (int run = 0; run < o.processRuns; ++run) {
        ProcessRun r;
        // Started one at a time, each first in turn, each left to settle before the next is
        // started; then all are left idle side by side.
        std::array<Started, kPrograms> started;
        for (int k = 0; k < kPrograms; ++k) {
            const auto program = static_cast<std::size_t>((run + k) % kPrograms);
            started[program] = startProgram(watch, argv[program]);
            std::this_thread::sleep_for(std::chrono::milliseconds(o.settleMs));
        }
        std::array<double, kPrograms> cpu{};
        std::array<long, kPrograms> ticks{};
        for (std::size_t p = 0; p < kPrograms; ++p) {
            cpu[p] = cpuMs(started[p].pid);
            ticks[p] = cpuTicks(started[p].pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(o.idleMs));
        for (std::size_t p = 0; p < kPrograms; ++p) {
            ProgramFigures& f = r[p];
            const pid_t pid = started[p].pid;
            f.startupMs = started[p].startupMs;
            f.startupCpuMs = cpu[p];
            f.idleCpuMs = cpuMs(pid) - cpu[p];
            f.idleTicks = static_cast<double>(cpuTicks(pid) - ticks[p]);
            f.peakKb = static_cast<double>(peakKb(pid));
            f.kinds = residentByKind(pid);
        }
        for (std::size_t p = 0; p < kPrograms; ++p) {
            stopProcess(started[p].pid);
            const ProgramFigures& f = r[p];
            std::fprintf(stderr,
                         "process run %d, %s: start-up %.1f ms (%.1f ms CPU), idle CPU %.3f ms "
                         "(%.0f ticks), peak %.0f kB (now: fonts %ld, libraries %ld, other %ld "
                         "kB)\n",
                         run, kProgramNames[p], f.startupMs, f.startupCpuMs, f.idleCpuMs,
                         f.idleTicks, f.peakKb, f.kinds.fontsKb, f.kinds.librariesKb,
                         f.kinds.otherKb);
        }
        runs.push_back(r);
    }
    return runs;
}

}  // namespace pj::bench
