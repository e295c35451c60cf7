// SPDX-License-Identifier: Apache-2.0
// The serial control on a line server's local socket through QLocalSocket, against a
// QLocalServer of the test's own that speaks as pjline: the hello, then records both ways.
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/line_wire.h"
#include "qtio/qt_serial_control.h"
#include "shell/event_loop.h"

namespace pj {
namespace {

using test::runUntil;
using Kind = CommEvent::Kind;
using namespace std::string_literals;

struct Seen {
    std::vector<CommEvent> events;
    bool last(Kind kind) const { return !events.empty() && events.back().kind == kind; }
    std::string received() const {
        std::string bytes;
        for (const CommEvent& e : events) {
            bytes += e.kind == Kind::Receive ? e.data : "";
        }
        return bytes;
    }
};

TEST(QtLocalSocket, OpensOnTheGreetingCarriesRecordsAndTellsALoss) {
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("line.sock")).toStdString();
    QtSerialControl serial;
    Seen seen;
    serial.setOnComm([&](const CommEvent& event) { seen.events.push_back(event); });

    // Nothing there yet: the failure names the socket.
    serial.setDevice(1, "unix:" + path);
    ASSERT_EQ(serial.setPortOpen(true).outcome(), SerialResult::Outcome::UnderWay);
    EXPECT_TRUE(seen.events.empty()) << "reported inside the opening";
    ASSERT_TRUE(runUntil([&] { return seen.last(Kind::OpenFailed); }));
    EXPECT_EQ(seen.events.back().data.rfind(path + ": ", 0), 0u) << seen.events.back().data;
    EXPECT_FALSE(serial.portOpen());

    QLocalServer server;
    ASSERT_TRUE(server.listen(QString::fromStdString(path))) << server.errorString().toStdString();
    // Named by its plain path too, as the system says it is a socket.
    for (const std::string& name : {"unix:" + path, path}) {
        SCOPED_TRACE(name);
        seen.events.clear();
        serial.setDevice(1, name);
        ASSERT_FALSE(serial.setSettings("9600,N,8,1").failed());
        ASSERT_EQ(serial.setPortOpen(true).outcome(), SerialResult::Outcome::UnderWay);
        ASSERT_TRUE(runUntil([&] { return server.hasPendingConnections(); }));
        std::unique_ptr<QLocalSocket> far(server.nextPendingConnection());
        const auto readAtLeast = [&](std::size_t size) {
            QByteArray bytes;
            EXPECT_TRUE(runUntil([&] {
                bytes += far->read(static_cast<qint64>(size) - bytes.size());
                return static_cast<std::size_t>(bytes.size()) >= size;
            }));
            return bytes.toStdString();
        };
        const auto send = [&](const std::string& bytes) {
            far->write(bytes.data(), static_cast<qint64>(bytes.size()));
            far->flush();
        };

        // The first bytes on the connection are the hello; the port opens on the greeting,
        // and the line's bytes before it are not the panel's.
        const std::string hello = readAtLeast(wire::kHelloSize);
        EXPECT_EQ(wire::checkHello(hello), wire::HelloCheck::Complete);
        send("\0lost early\r"s + hello);
        ASSERT_TRUE(runUntil([&] { return seen.last(Kind::Opened); }));
        ASSERT_FALSE(serial.output("CR0\r").failed());
        EXPECT_EQ(readAtLeast(7), wire::dataRecord("CR0\r"));

        // The line's bytes that look like messages are the line's.
        send(wire::message(wire::kBack) + wire::dataRecord("\0lost x\r00\r"s));
        ASSERT_TRUE(runUntil([&] { return seen.received() == "\0lost x\r00\r"s; }))
            << seen.received();
        EXPECT_TRUE(serial.portOpen());

        send(wire::message(wire::kLost, "the device hung up"));
        ASSERT_TRUE(runUntil([&] { return seen.last(Kind::DeviceLost); }));
        EXPECT_EQ(seen.events.back().data, "pjline: the device hung up");
        // Like a network port: whatever answers there again is the line.
        EXPECT_TRUE(seen.events.back().sameDeviceKnown);
        EXPECT_FALSE(serial.portOpen());
    }
}

}  // namespace
}  // namespace pj
