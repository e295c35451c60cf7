// The serial control on a network port: the core on QTcpSocket against the simulator
// serving the line over TCP on loopback, as a serial device server in raw TCP mode would.
#include <gtest/gtest.h>

#include "qtio/headless_panel.h"
#include "shell/event_loop.h"
#include "sim/line_server.h"
#include "support/fakes.h"

namespace pj {
namespace {

using test::runFor;
using test::runUntil;

sim::LineOptions overTcp() {
    sim::LineOptions options;
    options.listenPort = 0;
    return options;
}

class TcpLine : public ::testing::Test, protected HeadlessPanel {
  protected:
    void load(const std::string& device) { HeadlessPanel::load(QString::fromStdString(device)); }
    void send(std::string_view command) { form.send(command); }

    sim::LineServer server{overTcp()};
};

TEST_F(TcpLine, FramesGoOutAndRepliesAreDecodedWhateverTheLineSpeed) {
    ASSERT_FALSE(server.start());
    load(server.path());
    // The connection is made in the background; the window is never held up for it.
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); })) << window.portNotice;
    ASSERT_TRUE(window.boxes.empty());

    form.Click(ControlId::Option5);
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return window.caption(ControlId::Label22) == " Power ON"; }));
    EXPECT_EQ(window.caption(ControlId::Label12), " 0 0 CR ");

    runFor(600);  // the reply window ends and the receive buffer is emptied
    // Speed changes are taken and have no effect on a network port.
    form.Click(ControlId::Option10);
    EXPECT_TRUE(serial.portOpen());
    send("CR PRESSURE");
    ASSERT_TRUE(runUntil([&] { return window.caption(ControlId::Label22) == "650 hPa"; }));

    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].text, "A001CR0");
    EXPECT_EQ(frames[1].text, "A001CR PRESSURE");
}

TEST_F(TcpLine, DroppedConnectionIsALostDeviceAndIsReopenedWhenTheServerIsBack) {
    ASSERT_FALSE(server.start());
    load(server.path());
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); }));

    server.dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    EXPECT_EQ(window.portNotice, "COM1 lost: the device went away");
    runFor(1500);  // a retry or two against a refused connection
    EXPECT_FALSE(serial.portOpen());
    send("C00");
    EXPECT_EQ(window.caption(ControlId::Label11), " NOT SENT - COM1: the port is not open");

    ASSERT_FALSE(server.reopen());
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); }, 2500));
    EXPECT_EQ(window.portNotice, "COM1 is back");
    EXPECT_TRUE(window.boxes.empty());
    send("CR1");
    ASSERT_TRUE(runUntil([&] { return window.caption(ControlId::Label22) == " Input mode 1"; }));
}

TEST_F(TcpLine, AddressThatCannotBeReachedIsReportedInTheWarningBox) {
    struct Case {
        std::string device;
        std::string says;
    };
    // The simulator is not started: its port refuses connections.
    const Case cases[] = {
        {"tcp://127.0.0.1:1", "127.0.0.1:1: Connection refused"},
        {"tcp://127.0.0.1", "no port number (1 to 65535) after the host"},
        {"tcp://127.0.0.1:70000", "no port number (1 to 65535) after the host"},
        {"tcp://:4001", "the host is missing"},
        {"tcp://127.0.0.1:4001/x?y", "no port number (1 to 65535) after the host"},
        {"tcp://user@pj:4001", "only a host and a port number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        serial.setDevice(2, QString::fromStdString(c.device));
        window.boxes.clear();
        form.Click(ControlId::Option2);
        ASSERT_TRUE(runUntil([&] { return !window.boxes.empty(); }));
        runFor(50);  // and no second box follows
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_NE(window.boxes[0].text.find(c.says), std::string::npos) << window.boxes[0].text;
        EXPECT_FALSE(serial.portOpen());
    }
}

}  // namespace
}  // namespace pj
