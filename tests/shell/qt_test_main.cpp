// SPDX-License-Identifier: Apache-2.0
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "qtio/qt_serial_control.h"

namespace {

// `--hold-port PATH`: opens the port and keeps it for a few seconds, as another panel
// holding the line would. The tests start this binary that way as their second process.
int holdPort(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    pj::QtSerialControl port;
    port.setDevice(1, QString::fromLocal8Bit(argv[2]));
    if (const pj::SerialResult opened = port.setPortOpen(true); opened.failed()) {
        std::printf("failed: %s\n", opened.error().c_str());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

}  // namespace

// The shell tests need one application object for the whole run, and no display: they run
// on Qt's offscreen platform unless told otherwise.
int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0) {
        return holdPort(argc, argv);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
