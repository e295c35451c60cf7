// SPDX-License-Identifier: Apache-2.0
#pragma once

// The programs as processes, on the X display named by $DISPLAY: the panel program against a
// bare Qt window of the same size, started alternately:
//   (d) start-up to the window mapped; (e) CPU time while idle; (f) peak memory.

#include <array>
#include <cstddef>
#include <vector>

#include "process_probe.h"
#include "timing_options.h"

namespace pj::bench {

// The panel, the bare window (the floor) and the bare window with two lines of text.
enum Program { kPanel, kBare, kBareText, kPrograms };
inline constexpr std::array<const char*, kPrograms> kProgramNames{"panel", "bare window",
                                                                  "bare window with text"};

struct ProgramFigures {
    double startupMs = 0;
    double startupCpuMs = 0;  // CPU time used from the start to the end of its settling time
    double idleCpuMs = 0;
    double idleTicks = 0;
    double peakKb = 0;
    MemoryKinds kinds;
};

using ProcessRun = std::array<ProgramFigures, kPrograms>;

// `o.processRuns` runs of the three programs, after one start of each to warm the file cache;
// each run's figures go to standard error.
std::vector<ProcessRun> processRuns(const Options& o);

}  // namespace pj::bench
