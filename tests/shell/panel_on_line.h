#pragma once

#include <QCoreApplication>
#include <QDir>

#include <memory>
#include <string>

#include "qtio/headless_panel.h"
#include "sim/line_server.h"
#include "support/fakes.h"

namespace pj::test {

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
};

}  // namespace pj::test
