// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qtio/headless_panel.h"
#include "sim/line_server.h"
#include "support/fakes.h"

namespace pj::test {

// Everything the data lines showed, in order, as the core told it: a test waits for a
// reply by what was shown, not by polling a line that the display hold may clear again
// before the poll comes round on a loaded machine.
struct Seen final : FormObserver {
    void sent(std::string_view) override { ++frames; }
    void received(std::string_view, std::string_view echo) override { keep(echoes, echo); }
    void readout(std::string_view text) override { keep(readouts, text); }
    void replyWindowEnded(bool answered) override {
        ++windows;
        if (!answered) {
            keep(echoes, " X X X X");
        }
    }
    bool showed(std::string_view echo) const {
        return std::find(echoes.begin(), echoes.end(), echo) != echoes.end();
    }
    bool readOut(std::string_view text) const {
        return std::find(readouts.begin(), readouts.end(), text) != readouts.end();
    }

    // The newest of each, enough for any one exchange; a flood of arrivals must not make the
    // test itself grow.
    static constexpr std::size_t kKept = 64;
    std::size_t frames = 0;   // sent, all told
    std::size_t windows = 0;  // reply windows ended, all told
    std::deque<std::string> echoes;
    std::deque<std::string> readouts;

  private:
    static void keep(std::deque<std::string>& list, std::string_view text) {
        list.emplace_back(text);
        if (list.size() > kKept) {
            list.pop_front();
        }
    }
};

// The core on the real serial path, with the simulator at the far end of a pseudo-terminal.
// The panel opens the line by a link, a name that stays the same across unplug and replug.
struct PanelOnLine : HeadlessPanel {
    static std::string linkPath() {
        return QDir::temp()
            .filePath(QStringLiteral("pjpanel-test-%1").arg(QCoreApplication::applicationPid()))
            .toStdString();
    }

    // Starts the simulator and loads the window; the port must open.
    void start(sim::LineOptions options = {}) {
        options.link = linkPath();
        server = std::make_unique<sim::LineServer>(std::move(options));
        form.setObserver(&seen);
        ASSERT_FALSE(server->start());
        load(QString::fromStdString(linkPath()));
        ASSERT_TRUE(serial.portOpen()) << window.portNotice;
        ASSERT_TRUE(window.boxes.empty());
    }

    void send(std::string_view command) { form.send(command); }

    template <class F>
    decltype(auto) projector(F&& f) {
        return server->withProjector(std::forward<F>(f));
    }

    std::unique_ptr<sim::LineServer> server;
    Seen seen;
};

}  // namespace pj::test
