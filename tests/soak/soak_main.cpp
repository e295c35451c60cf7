// SPDX-License-Identifier: Apache-2.0
// pjsoak: long runs of the panel's core on the real serial path against the simulator.
//
//   pjsoak hold MINUTES     hold the cursor pad at its fastest repeat (5 ms) for MINUTES
//   pjsoak queries MINUTES  one status query a second for MINUTES
//
// Prints one line of figures per run, as "key=value" pairs, and exits non-zero when a
// figure is out of bounds.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/form.h"
#include "qtio/headless_panel.h"
#include "shell/event_loop.h"
#include "sim/line_server.h"
#include "status/queries.h"
#include "support/fakes.h"
#include "support/process_memory.h"

namespace {

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
        } else if (auto [it, first] = reference.emplace(query.command, readout);
                   readout.empty() || (!first && it->second != readout)) {
            ++misdecoded;
            good = false;
        } else {
            replyMs.push_back(took);
        }
        if (!good) {
            std::fprintf(stderr, "at %lld ms: %s after %lld ms: echo \"%s\" readout \"%s\"\n",
                         static_cast<long long>(run.elapsed()), std::string(query.command).c_str(),
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int minutes = argc == 3 ? std::atoi(argv[2]) : 0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: pjsoak hold|queries MINUTES\n");
        return 2;
    }
    const std::string what = argv[1];
    if (what == "hold") {
        return hold(minutes);
    }
    if (what == "queries") {
        return queries(minutes);
    }
    std::fprintf(stderr, "usage: pjsoak hold|queries MINUTES\n");
    return 2;
}
