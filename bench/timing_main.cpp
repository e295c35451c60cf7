// SPDX-License-Identifier: Apache-2.0
// pjtiming: the panel's own delay measured against the line's.
//
// On the line (in this process): the real window (QtWindow, on Qt's offscreen platform),
// the core, QSerialPort, QTimer and the steady clock, wired as the program wires them, with
// the simulator serving a pseudo-terminal (bench/line_rig.h). Presses and releases are mouse
// events delivered to the button widgets through Qt's event system. The simulator's trace
// reports each frame as its last byte is read; the time is taken there, on the simulator's
// thread.
//   (a) press to wire: 1000 presses, on a bare pseudo-terminal (no wire time) and with the
//       simulator taking bytes no faster than 19200 baud (bench/press_to_wire.h);
//   (b) repeat periods: a hold at each period the panel repeats at (bench/repeat_periods.h);
//   (c) saturation: the fastest repeat with an addressed frame at 9600 and 19200 baud on a
//       throttled line (bench/saturation.h).
// As processes (on the X display named by $DISPLAY): the panel program against a bare Qt
// window of the same size, started alternately (bench/process_runs.h):
//   (d) start-up to the window mapped; (e) CPU time while idle; (f) peak memory.
//
// Prints a markdown table of figures (medians over the runs) against their targets on
// standard output (bench/report.h); progress and per-run figures go to standard error.
#include <QApplication>
#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line_runs.h"
#include "process_runs.h"
#include "report.h"
#include "timing_options.h"

namespace {

using pj::bench::Options;

int usage() {
    std::fprintf(
        stderr,
        "usage: pjtiming [--runs N] [--presses N] [--hold-ms MS] [--saturation-ms MS]\n"
        "                [--floor-ms MS] [--process-runs N] [--idle-ms MS] [--settle-ms MS]\n"
        "                [--only line|process] [--repeat-timer qt|sleep]\n"
        "                --panel PATH --bare PATH\n"
        "--repeat-timer sleep: on the line, the panel's repeat timer and line pacer keep their\n"
        "schedule by waking early and sleeping the rest (bench/sleep_rest_timer.h)\n");
    return 2;
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    const std::map<std::string, int*> numbers{
        {"--runs", &o.runs},          {"--presses", &o.presses},
        {"--hold-ms", &o.holdMs},     {"--saturation-ms", &o.saturationMs},
        {"--idle-ms", &o.idleMs},     {"--process-runs", &o.processRuns},
        {"--settle-ms", &o.settleMs}, {"--floor-ms", &o.floorMs}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (auto it = numbers.find(arg); it != numbers.end()) {
            *it->second = std::atoi(value.c_str());
            if (*it->second <= 0) {
                return std::nullopt;
            }
        } else if (arg == "--only") {
            o.line = value == "line";
            o.process = value == "process";
            if (!o.line && !o.process) {
                return std::nullopt;
            }
        } else if (arg == "--repeat-timer") {
            if (value == "sleep") {
                o.repeatTimer = pj::bench::RepeatTimer::SleepRest;
            } else if (value == "qt") {
                o.repeatTimer = pj::bench::RepeatTimer::Qt;
            } else {
                return std::nullopt;
            }
        } else if (arg == "--panel") {
            o.panel = value;
        } else if (arg == "--bare") {
            o.bare = value;
        } else {
            return std::nullopt;
        }
    }
    if (o.process && (o.panel.empty() || o.bare.empty())) {
        return std::nullopt;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        return usage();
    }
    // This process's own window runs offscreen; the programs it starts go to $DISPLAY.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    pj::bench::Table table;
    if (options->line) {
        std::vector<pj::bench::LineRun> runs;
        for (int run = 0; run < options->runs; ++run) {
            runs.push_back(pj::bench::lineRun(*options, run));
        }
        pj::bench::pressRows(runs, table);
        pj::bench::holdRows(runs, table);
        pj::bench::saturationRows(runs, table);
    }
    std::vector<pj::bench::ProcessRun> processes;
    if (options->process) {
        processes = pj::bench::processRuns(*options);
        pj::bench::processRows(processes, table);
    }
    pj::bench::printTable(table, options->line ? options->runs : 0,
                          options->process ? options->processRuns : 0);
    if (!processes.empty()) {
        pj::bench::printMemoryKinds(processes);
    }
    return 0;
}
