#pragma once

#include <QCoreApplication>
#include <QDir>

#include <memory>
#include <string>

#include "app/form.h"
#include "protocol/frame.h"
#include "shell/qt_clock.h"
#include "shell/qt_serial_control.h"
#include "shell/qt_timer.h"
#include "sim/line_server.h"
#include "support/fakes.h"

namespace pj::test {

// The core on the real serial path (QSerialPort, QTimer, the steady clock), with a
// recording window, and the simulator at the far end of a pseudo-terminal. The panel opens
// the line by a link, a name that stays the same across unplug and replug.
struct PanelOnLine {
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
        serial.setDevice(1, QString::fromStdString(linkPath()));
        form.Load();
        ASSERT_TRUE(serial.portOpen()) << window.portNotice;
        ASSERT_TRUE(window.boxes.empty());
    }

    void send(std::string_view command) {
        form.state.LastCommand = buildFrame(form.state.AddressPrefix, command);
        form.Hyouji(form.state.LastCommand, kHyoujiSend);
    }

    template <class F>
    decltype(auto) projector(F&& f) {
        return server->withProjector(std::forward<F>(f));
    }

    std::unique_ptr<sim::LineServer> server;
    QtSerialControl serial;
    QtFormTimers timers;
    SteadyClock clock;
    FakeWindow window;
    Form form{window, serial, timers.all(), clock};
};

}  // namespace pj::test
