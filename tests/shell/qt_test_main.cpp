#include <QApplication>
#include <QSerialPort>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace {

// `--hold-port PATH`: opens the port and keeps it for a few seconds, as another program
// holding the line would. The tests start this binary that way as their second process.
int holdPort(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QSerialPort port(QString::fromLocal8Bit(argv[2]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("failed: %s\n", qPrintable(port.errorString()));
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
