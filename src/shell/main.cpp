// SPDX-License-Identifier: Apache-2.0
// pjpanel: the projector control window.
#include <QApplication>
#include <QCommandLineParser>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "app/form.h"
#include "link/line_log.h"
#include "link/serial_ports.h"
#include "qtio/qt_clock.h"
#include "qtio/qt_serial_control.h"
#include "qtio/qt_timer.h"
#include "shell/qt_window.h"
#include "shell/quit_on_signal.h"

int main(int argc, char* argv[]) {
    // The options are read before the window system is reached, so that --help and a
    // mistyped option are answered without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Remote-control panel for a data projector on a serial line."));
    const QCommandLineOption port1(
        {QStringLiteral("port1")},
        QStringLiteral("Device behind port 1 (default: the first USB serial adapter, else "
                       "/dev/ttyS0), tcp://HOST:PORT, or unix:PATH for pjline's local socket."),
        QStringLiteral("path"));
    const QCommandLineOption port2(
        {QStringLiteral("port2")},
        QStringLiteral("Device behind port 2 (default: the second USB serial adapter, else "
                       "the first of /dev/ttyS0 and /dev/ttyS1 that port 1 does not take), "
                       "tcp://HOST:PORT, or unix:PATH for pjline's local socket."),
        QStringLiteral("path"));
    const QCommandLineOption log(
        {QStringLiteral("log")},
        QStringLiteral("Adds a record of the line's traffic to the end of file, one JSON object "
                       "a line (without it nothing is written)."),
        QStringLiteral("file"));
    parser.addOption(port1);
    parser.addOption(port2);
    parser.addOption(log);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    const QCommandLineOption version({QStringLiteral("version")},
                                     QStringLiteral("Shows the program's name and version."));
    parser.addOption(version);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "pjpanel: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QStringLiteral("pjpanel"))),
                   stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs("pjpanel " PJ_VERSION "\n", stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pjpanel: unexpected argument \"%s\"\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    // The log is opened before anything else, so that one that cannot be written is said at
    // once rather than found missing afterwards.
    std::ofstream logFile;
    const std::string logPath = parser.value(log).toStdString();
    if (parser.isSet(log)) {
        logFile.open(logPath, std::ios::app | std::ios::binary);
        if (logPath.empty() || !logFile) {
            std::fprintf(stderr, "pjpanel: cannot write the log %s: %s\n", logPath.c_str(),
                         logPath.empty() ? "no file named" : std::strerror(errno));
            return 2;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pjpanel"));
    QApplication::setApplicationVersion(QStringLiteral(PJ_VERSION));
    // The name of the installed desktop entry (packaging/), by which a Wayland session ties
    // the window to its launcher.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.pjpanel"));

    // Unnamed ports are the USB serial adapters plugged in, else the machine's own ports: a
    // laptop started from the menu finds its adapter rather than an empty built-in port.
    const std::array<std::string, 2> defaults = pj::defaultPortDevices();
    pj::QtSerialControl serial;
    serial.setDevice(1, parser.isSet(port1) ? parser.value(port1).toStdString() : defaults[0]);
    serial.setDevice(2, parser.isSet(port2) ? parser.value(port2).toStdString() : defaults[1]);

    pj::QtFormTimers timers;
    pj::SteadyClock clock;
    pj::QtWindow window;
    pj::Form form(window, serial, timers.all(), clock);
    window.setEvents(&form);
    window.setPortDevices(
        {pj::portDescription(serial.device(1)), pj::portDescription(serial.device(2))});
    std::unique_ptr<pj::LineLog> lineLog;
    if (logFile.is_open()) {
        lineLog = std::make_unique<pj::LineLog>(
            logFile, clock, pj::LineLogHeader{"pjpanel", serial.device(1), 19200});
        form.setObserver(lineLog.get());
    }

    // Ended by a signal, the panel ends as by "END": the port closed, then the window.
    const pj::QuitOnSignal quitOnSignal([&form] { form.Click(pj::ControlId::Command16); });
    form.Load();
    if (form.unloaded()) {
        return 0;
    }
    window.show();
    const int status = QApplication::exec();
    form.setObserver(nullptr);
    if (lineLog && !lineLog->good()) {
        std::fprintf(stderr, "pjpanel: the log %s could not be written in full\n", logPath.c_str());
        return 1;
    }
    return status;
}
