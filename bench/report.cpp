// SPDX-License-Identifier: Apache-2.0
#include "report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "stats.h"

namespace pj::bench {

namespace {

template <class Run, class F>
std::vector<double> collect(const std::vector<Run>& runs, F f) {
    std::vector<double> values;
    for (const Run& r : runs) {
        values.push_back(f(r));
    }
    return values;
}

std::string formatted(double value, int decimals) {
    if (std::isnan(value)) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

void printTable(const Table& table, int lineRuns, int processRuns) {
    std::printf("| Figure | Median | Range over runs | Target | Met |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& row : table.rows()) {
        const auto [low, high] = std::minmax_element(row.values.begin(), row.values.end());
        const std::string unit = row.unit.empty() ? "" : " " + row.unit;
        std::printf("| %s | %s%s | %s – %s | %s | %s |\n", row.figure.c_str(),
                    formatted(median(row.values), row.decimals).c_str(), unit.c_str(),
                    formatted(*low, row.decimals).c_str(), formatted(*high, row.decimals).c_str(),
                    row.target.c_str(), !row.met ? "" : (*row.met ? "yes" : "**no**"));
    }
    if (lineRuns > 0) {
        std::printf("\nOn the line: medians of %d runs in this process.", lineRuns);
    }
    if (processRuns > 0) {
        std::printf("%sAs processes: medians of %d runs.", lineRuns > 0 ? " " : "\n", processRuns);
    }
    std::printf("\n");
}

void pressRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    const auto pty = [&](double PressFigures::*figure) {
        return collect(runs, [=](const R& r) { return r.pty.*figure; });
    };
    const auto line = [&](double PressFigures::*figure) {
        return collect(runs, [=](const R& r) { return r.throttled.*figure; });
    };
    const std::string bare = "(a) press to frame read, pseudo-terminal (no wire time), ";
    table.add(bare + "p50", pty(&PressFigures::p50), "ms", 3);
    table.add(bare + "p99", pty(&PressFigures::p99), "ms", 3, "≤ 2 ms",
              median(pty(&PressFigures::p99)) <= 2.0);
    table.add(bare + "press handled (frame written), p99", pty(&PressFigures::handledP99), "ms", 3);
    table.add("(a) floor: frame written straight to the pseudo-terminal, p50",
              pty(&PressFigures::floorP50), "ms", 3);
    table.add("(a) floor: frame written straight to the pseudo-terminal, p99",
              pty(&PressFigures::floorP99), "ms", 3);
    const std::string wire = "(a) press to first byte, 19200 baud, ";
    table.add(wire + "p50", line(&PressFigures::p50), "ms", 3);
    table.add(wire + "p99", line(&PressFigures::p99), "ms", 3,
              "≤ 2 ms beyond the " + formatted(4 * characterMs(19200), 2) + " ms frame",
              median(line(&PressFigures::p99)) <= 2.0);
    table.add("(a) floor: frame written straight to the 19200-baud line, p50",
              line(&PressFigures::floorP50), "ms", 3);
    table.add("(a) floor: frame written straight to the 19200-baud line, p99",
              line(&PressFigures::floorP99), "ms", 3);
}

void holdRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    const std::size_t periods = runs.front().holds.size();
    for (std::size_t i = 0; i < periods; ++i) {
        const int period = runs.front().holds[i].period;
        const auto each = [&](double HoldFigures::*figure) {
            return collect(runs, [=](const R& r) { return r.holds[i].*figure; });
        };
        const std::string name = "(b) " + std::to_string(period) + " ms repeat: ";
        table.add(name + "period error p50", each(&HoldFigures::p50), "ms", 3);
        table.add(name + "period error p99", each(&HoldFigures::p99), "ms", 3, "≤ 1 ms",
                  median(each(&HoldFigures::p99)) <= 1.0);
        table.add(name + "repeat timer as Qt delivered it, interval error p99",
                  each(&HoldFigures::timerP99), "ms", 3);
        table.add(name + "repeat timer event to frame read, p99", each(&HoldFigures::lagP99), "ms",
                  3);
        const auto off =
            collect(runs, [=](const R& r) { return r.holds[i].frames - r.holds[i].ideal; });
        const bool within =
            std::all_of(off.begin(), off.end(), [](double d) { return std::abs(d) <= 1; });
        table.add(name + "frames − ideal (1 + held/period)", off, "", 0, "within ±1 in every run",
                  within);
        if (period != runs.front().timerFloor.period) {
            continue;
        }
        for (const bool sleep : {false, true}) {
            const auto floor = [&](double HoldFigures::*figure) {
                return collect(runs, [=](const R& r) {
                    return (sleep ? r.sleepFloor : r.timerFloor).*figure;
                });
            };
            const std::string what =
                sleep ? "(b) floor: QTimer woken up to 1 ms early, then a sleep to the due time, "
                      : "(b) floor: bare QTimer, ";
            const std::string at = "at " + std::to_string(period) + " ms: ";
            table.add(what + at + "interval error p50", floor(&HoldFigures::p50), "ms", 3);
            table.add(what + at + "interval error p99", floor(&HoldFigures::p99), "ms", 3);
        }
    }
}

void saturationRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    for (const bool slow : {true, false}) {
        const auto each = [&](double SaturationFigures::*figure, double scale) {
            return collect(
                runs, [=](const R& r) { return (slow ? r.at9600 : r.at19200).*figure * scale; });
        };
        const SaturationFigures& first = slow ? runs.front().at9600 : runs.front().at19200;
        const std::string name = "(c) " + std::to_string(first.baud) + " baud, 8-byte frame (" +
                                 formatted(first.frameMs, 2) + " ms), 5 ms repeat: ";
        const auto busy = each(&SaturationFigures::busy, 100);
        if (first.possible >= 1.0) {
            table.add(name + "line busy", busy, "%", 2, "≥ 95%", median(busy) >= 95.0);
        } else {
            table.add(name + "line busy (the repeat, not the line, is the limit here)", busy, "%",
                      2);
            table.add(name + "the most the repeat allows (frame / 5 ms)",
                      each(&SaturationFigures::possible, 100), "%", 2);
        }
        table.add(name + "frames complete by the release", each(&SaturationFigures::frames, 1), "",
                  0);
        table.add(name + "the most the line or the repeat allows in the hold",
                  each(&SaturationFigures::ceiling, 1), "", 0);
        const auto silence = each(&SaturationFigures::releaseToSilenceMs, 1);
        table.add(name + "release to last byte", silence, "ms", 2,
                  "≤ " + formatted(first.frameMs + 2, 2) + " ms (frame + 2 ms)",
                  median(silence) <= first.frameMs + 2);
    }
}

void processRows(const std::vector<ProcessRun>& runs, Table& table) {
    using P = ProcessRun;
    const auto each = [&](std::size_t program, double ProgramFigures::*figure, double scale) {
        return collect(runs, [=](const P& r) { return r[program].*figure * scale; });
    };
    const auto ratio = [&](std::size_t program, double ProgramFigures::*figure) {
        return collect(runs, [=](const P& r) { return r[kPanel].*figure / r[program].*figure; });
    };
    const auto startup = &ProgramFigures::startupMs;
    table.add("(d) start-up to window mapped, panel", each(kPanel, startup, 1), "ms", 1);
    table.add("(d) start-up to window mapped, bare window (floor)", each(kBare, startup, 1), "ms",
              1);
    table.add("(d) start-up, panel / bare window", ratio(kBare, startup), "×", 2, "≤ 1.3 ×",
              median(ratio(kBare, startup)) <= 1.3);
    table.add("(d) start-up to window mapped, bare window with text", each(kBareText, startup, 1),
              "ms", 1);
    table.add("(d) start-up, panel / bare window with text", ratio(kBareText, startup), "×", 2);
    for (std::size_t p = 0; p < kPrograms; ++p) {
        table.add(
            std::string("(d) CPU time used to start and show the window, ") + kProgramNames[p],
            each(p, &ProgramFigures::startupCpuMs, 1), "ms", 1);
    }
    const auto idle = each(kPanel, &ProgramFigures::idleCpuMs, 1);
    table.add("(e) CPU time while idle, panel", idle, "ms", 3, "≤ 10 ms", median(idle) <= 10.0);
    table.add("(e) CPU time while idle, panel, from /proc/PID/stat (10 ms ticks)",
              each(kPanel, &ProgramFigures::idleTicks, 10), "ms", 0);
    table.add("(e) CPU time while idle, bare window", each(kBare, &ProgramFigures::idleCpuMs, 1),
              "ms", 3);
    const auto peak = &ProgramFigures::peakKb;
    table.add("(f) peak resident memory, panel", each(kPanel, peak, 1.0 / 1024), "MiB", 1);
    table.add("(f) peak resident memory, bare window (floor)", each(kBare, peak, 1.0 / 1024), "MiB",
              1);
    table.add("(f) peak memory, panel / bare window", ratio(kBare, peak), "×", 2, "≤ 1.2 ×",
              median(ratio(kBare, peak)) <= 1.2);
    table.add("(f) peak resident memory, bare window with text", each(kBareText, peak, 1.0 / 1024),
              "MiB", 1);
    table.add("(f) peak memory, panel / bare window with text", ratio(kBareText, peak), "×", 2);
}

void printMemoryKinds(const std::vector<ProcessRun>& runs) {
    std::printf("\n| Resident once idle (MiB) | panel | bare window | bare window with text |\n");
    std::printf("|---|---|---|---|\n");
    const std::array<std::pair<const char*, long MemoryKinds::*>, 3> kinds{{
        {"font files", &MemoryKinds::fontsKb},
        {"shared libraries and plugins", &MemoryKinds::librariesKb},
        {"heap, stacks and other", &MemoryKinds::otherKb},
    }};
    for (const auto& [name, member] : kinds) {
        std::printf("| %s |", name);
        for (std::size_t p = 0; p < kPrograms; ++p) {
            const auto values = collect(runs, [&](const ProcessRun& r) {
                return static_cast<double>(r[p].kinds.*member) / 1024;
            });
            std::printf(" %s |", formatted(median(values), 1).c_str());
        }
        std::printf("\n");
    }
    // What the panel maps that the bare window with text does not (the last run).
    const auto& panel = runs.back()[kPanel].kinds.libraries;
    const auto& text = runs.back()[kBareText].kinds.libraries;
    std::vector<std::pair<long, std::string>> only;
    long total = 0;
    for (const auto& [name, kb] : panel) {
        if (text.find(name) == text.end()) {
            only.emplace_back(kb, name);
            total += kb;
        }
    }
    std::sort(only.rbegin(), only.rend());
    std::printf(
        "\nLibraries the panel maps and the bare window with text does not: %zu, %s MiB "
        "resident;",
        only.size(), formatted(static_cast<double>(total) / 1024, 1).c_str());
    for (std::size_t i = 0; i < only.size() && i < 8; ++i) {
        std::printf("%s %s %ld kB", i == 0 ? "" : ",", only[i].second.c_str(), only[i].first);
    }
    if (only.size() > 8) {
        std::printf(" and %zu more", only.size() - 8);
    }
    std::printf(".\n");
}

}  // namespace pj::bench
