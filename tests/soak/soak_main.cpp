// SPDX-License-Identifier: Apache-2.0
// pjsoak: long runs of the panel's core on the real serial path against the simulator.
//
//   pjsoak hold MINUTES     hold the cursor pad at its fastest repeat (5 ms) for MINUTES
//   pjsoak queries MINUTES  one status query a second for MINUTES
//   pjsoak noise SECONDS    noise at the full line rate for SECONDS, a click of "ON" a second
//   pjsoak idle SECONDS     the processor time of waiting: the simulator on a hung-up terminal,
//                           then the panel on a line that went away, SECONDS each
//
// Prints one line of figures per run, as "key=value" pairs, and exits non-zero when a
// figure is out of bounds.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/form.h"
#include "protocol/catalogue.h"
#include "qtio/headless_panel.h"
#include "shell/event_loop.h"
#include "sim/line_server.h"
#include "status/queries.h"
#include "support/fakes.h"
#include "support/process_memory.h"

namespace {

// Processor time this process has used, in seconds.
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Panel : pj::HeadlessPanel {
    Panel() {
        pj::sim::ProjectorSettings settings;
        settings.record = false;  // count frames, keep none: the soak watches memory
        server = std::make_unique<pj::sim::LineServer>(pj::sim::LineOptions{},
                                                       pj::sim::Projector(settings));
        if (server->start()) {
            std::fprintf(stderr, "pjsoak: the simulator did not start\n");
            std::exit(2);
        }
        load(QString::fromStdString(server->path()));
        if (!serial.portOpen()) {
            std::fprintf(stderr, "pjsoak: the port did not open\n");
            std::exit(2);
        }
    }

    std::unique_ptr<pj::sim::LineServer> server;
};

// Memory, sampled once a second while `run` lasts.
struct MemoryWatch {
    long first = pj::test::residentKb();
    long peak = first;
    void sample() { peak = std::max(peak, pj::test::residentKb()); }
};

int hold(int minutes) {
    Panel panel;
    // A digital-zoom release leaves the cursor pad repeating every 5 ms.
    panel.form.MouseDown(pj::ControlId::Command48);
    panel.form.MouseUp(pj::ControlId::Command48);
    pj::test::runFor(500);
    const std::size_t before = panel.server->frameCount();

    MemoryWatch memory;
    QElapsedTimer held;
    panel.form.MouseDown(pj::ControlId::Command5);
    held.start();
    for (int s = 0; s < minutes * 60; ++s) {
        pj::test::runFor(1000);
        memory.sample();
    }
    panel.form.MouseUp(pj::ControlId::Command5);
    const qint64 heldMs = held.elapsed();
    pj::test::runFor(500);

    const auto frames = static_cast<double>(panel.server->frameCount() - before);
    const double ideal = 1.0 + static_cast<double>(heldMs / 5);
    const double error = (frames - ideal) / ideal * 100.0;
    const long growth = pj::test::residentKb() - memory.first;
    std::printf(
        "hold minutes=%d held_ms=%lld frames=%.0f ideal=%.0f error_pct=%.3f "
        "rss_start_kb=%ld rss_peak_kb=%ld rss_growth_kb=%ld\n",
        minutes, static_cast<long long>(heldMs), frames, ideal, error, memory.first, memory.peak,
        growth);
    return std::abs(error) <= 1.0 && growth < 4096 ? 0 : 1;
}

int queries(int minutes) {
    Panel panel;
    std::map<std::string_view, std::string> reference;
    std::vector<qint64> replyMs;
    int sent = 0;
    int lost = 0;
    int misdecoded = 0;
    MemoryWatch memory;
    QElapsedTimer run;
    run.start();
    for (int s = 0; s < minutes * 60; ++s) {
        const qint64 due = static_cast<qint64>(s) * 1000;
        pj::test::runFor(static_cast<int>(std::max<qint64>(0, due - run.elapsed())));
        const pj::QueryButton& query =
            pj::kQueryButtons[static_cast<std::size_t>(s) % pj::kQueryButtons.size()];
        panel.form.Click(query.control);
        ++sent;
        QElapsedTimer waited;
        waited.start();
        // Until the reply's carriage return is in, or the reply window has ended.
        const auto ended = [&] {
            const std::string echo = panel.window.caption(pj::ControlId::Label12);
            if (panel.form.state().AwaitingReply == 1) {
                return false;  // nothing of this reply yet
            }
            return echo == pj::kNoReplyMark ||
                   (echo.size() >= 3 && echo.compare(echo.size() - 3, 3, "CR ") == 0);
        };
        pj::test::runUntil(ended, 900);
        const std::string echo = panel.window.caption(pj::ControlId::Label12);
        const std::string readout = panel.window.caption(pj::ControlId::Label22);
        const qint64 took = waited.elapsed();
        bool good = true;
        if (!ended() || echo == pj::kNoReplyMark) {
            ++lost;
            good = false;
        } else if (auto [it, first] =
                       reference.emplace(pj::findStatusQuery(query.query)->command, readout);
                   readout.empty() || (!first && it->second != readout)) {
            ++misdecoded;
            good = false;
        } else {
            replyMs.push_back(took);
        }
        if (!good) {
            std::fprintf(stderr, "at %lld ms: %s after %lld ms: echo \"%s\" readout \"%s\"\n",
                         static_cast<long long>(run.elapsed()),
                         std::string(pj::findStatusQuery(query.query)->command).c_str(),
                         static_cast<long long>(took), echo.c_str(), readout.c_str());
        }
        memory.sample();
    }
    std::sort(replyMs.begin(), replyMs.end());
    const auto at = [&](double q) {
        return replyMs.empty() ? -1LL
                               : static_cast<long long>(replyMs[static_cast<std::size_t>(
                                     q * static_cast<double>(replyMs.size() - 1))]);
    };
    std::printf(
        "queries minutes=%d sent=%d answered=%d lost=%d misdecoded=%d reply_p50_ms=%lld "
        "reply_p99_ms=%lld reply_max_ms=%lld rss_start_kb=%ld rss_peak_kb=%ld\n",
        minutes, sent, sent - lost, lost, misdecoded, at(0.5), at(0.99), at(1.0), memory.first,
        memory.peak);
    for (const auto& [command, readout] : reference) {
        std::printf("  %s -> \"%s\"\n", std::string(command).c_str(), readout.c_str());
    }
    return lost == 0 && misdecoded == 0 ? 0 : 1;
}

// Noise at the full line rate for `seconds`: after five seconds to settle, a click of "ON" a
// second goes out through it. The panel's cost shows in how late its event loop runs a 20 ms
// probe timer, in its processor time and in its memory.
int noise(int seconds) {
    Panel panel;
    panel.server->withProjector([&](pj::sim::Projector& p) {
        const auto now = pj::sim::LineServer::clock();
        for (int tick = 0; tick < seconds * 100; ++tick) {
            p.queueGarbage(19, now + pj::sim::Millis(10 * tick));  // 1900 bytes/s: 19200 baud
        }
    });
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 last = 0;
    std::vector<qint64> lateness;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = elapsed.elapsed();
        lateness.push_back(now - last - 20);
        last = now;
    });
    probe.start(20);

    constexpr int kSettle = 5;
    pj::test::runFor(kSettle * 1000);
    const long memoryAtStart = pj::test::residentKb();
    const double cpuBefore = cpuSeconds();
    std::size_t clicks = 0;
    for (int second = kSettle; second < seconds; ++second) {
        panel.form.Click(pj::ControlId::Command17);  // "POWER" "ON"
        ++clicks;
        pj::test::runFor(1000);
    }
    const double cpu = cpuSeconds() - cpuBefore;
    const long growth = pj::test::residentKb() - memoryAtStart;
    const std::size_t frames = panel.server->frameCount();
    std::sort(lateness.begin(), lateness.end());
    const qint64 p99 = lateness.empty() ? -1 : lateness[lateness.size() * 99 / 100];
    const qint64 worst = lateness.empty() ? -1 : lateness.back();
    const int measured = seconds - kSettle;
    std::printf(
        "noise seconds=%d clicks=%zu frames=%zu cpu_s=%.2f cpu_pct=%.1f lateness_p99_ms=%lld "
        "lateness_max_ms=%lld rss_growth_kb=%ld rx_buffer=%zu\n",
        seconds, clicks, frames, cpu, 100 * cpu / measured, static_cast<long long>(p99),
        static_cast<long long>(worst), growth, panel.form.state().RxBuffer.size());
    const bool good = frames == clicks && growth < 2048 && cpu < 0.3 * measured && p99 < 20 &&
                      panel.form.state().RxBuffer.size() <= pj::kRxBufferCap;
    return good ? 0 : 1;
}

// Waiting costs next to nothing: the simulator on a terminal its opener hung up, and the panel
// on a line that went away (it tries the port again every second).
int idle(int seconds) {
    double simulatorCpu = 0;
    {
        pj::sim::LineServer server{pj::sim::LineOptions{}};
        if (server.start()) {
            std::fprintf(stderr, "pjsoak: the simulator did not start\n");
            return 2;
        }
        const int opener = ::open(server.path().c_str(), O_RDWR | O_NOCTTY);
        ::close(opener);  // from now on the terminal reports a hang-up
        const double before = cpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        simulatorCpu = cpuSeconds() - before;
    }
    double panelCpu = 0;
    {
        Panel panel;
        panel.server->dropLine();
        if (!pj::test::runUntil([&] { return !panel.serial.portOpen(); })) {
            std::fprintf(stderr, "pjsoak: the panel kept a dead line open\n");
            return 1;
        }
        const double before = cpuSeconds();
        pj::test::runFor(seconds * 1000);
        panelCpu = cpuSeconds() - before;
    }
    std::printf("idle seconds=%d simulator_hung_up_cpu_pct=%.2f panel_dead_line_cpu_pct=%.2f\n",
                seconds, 100 * simulatorCpu / seconds, 100 * panelCpu / seconds);
    return simulatorCpu < 0.1 * seconds && panelCpu < 0.1 * seconds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr const char* kUsage = "usage: pjsoak hold|queries MINUTES | noise|idle SECONDS\n";
    const int count = argc == 3 ? std::atoi(argv[2]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    const std::string what = argv[1];
    if (what == "hold") {
        return hold(count);
    }
    if (what == "queries") {
        return queries(count);
    }
    if (what == "noise" && count > 5) {
        return noise(count);
    }
    if (what == "idle") {
        return idle(count);
    }
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}
