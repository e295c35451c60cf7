// SPDX-License-Identifier: Apache-2.0
// The real serial path end to end: the core on QSerialPort and QTimer, a pseudo-terminal
// as the line, and the simulator answering at the far end.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "shell/event_loop.h"
#include "shell/panel_on_line.h"
#include "support/process.h"

namespace pj {
namespace {

using test::runFor;
using test::runUntil;

class SerialEndToEnd : public ::testing::Test, protected test::PanelOnLine {
  protected:
    void SetUp() override { start(); }
};

TEST_F(SerialEndToEnd, FrameGoesOutByteForByteAndTheReplyIsEchoedAndDecoded) {
    form.Click(ControlId::Option5);
    send("CR0");
    EXPECT_EQ(window.caption(ControlId::Label11), " A 0 0 1 C R 0 CR ");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 0 CR "); }))
        << window.caption(ControlId::Label12);
    EXPECT_EQ(seen.readouts, std::deque<std::string>{" Power ON"});

    const auto frames = server->frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text, "A001CR0");
}

TEST_F(SerialEndToEnd, SilentProjectorIsMarkedWhenTheReplyWindowEnds) {
    projector([](sim::Projector& p) { p.settings().silent = true; });
    send("C00");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" X X X X"); }));
    EXPECT_EQ(server->frameCount(), 1u);
    // The display hold then clears all three labels.
    ASSERT_TRUE(runUntil([&] { return window.caption(ControlId::Label11).empty(); }));
    EXPECT_EQ(window.caption(ControlId::Label12), "");
}

TEST_F(SerialEndToEnd, LineGoingAwayClosesThePortQuietlyAndLaterSendsSaySo) {
    server->dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); })) << "the panel kept a dead line open";
    EXPECT_EQ(window.portNotice, "COM1 lost: the device went away");
    EXPECT_TRUE(window.boxes.empty());

    send("C00");
    EXPECT_EQ(window.caption(ControlId::Label11), " NOT SENT - COM1: the port is not open");
}

TEST_F(SerialEndToEnd, LineThatComesBackAtTheSamePathIsReopenedWithoutAClick) {
    server->dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    runFor(1500);  // a retry or two against the missing device
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(window.portNotice, "COM1 lost: the device went away");

    ASSERT_FALSE(server->reopen());
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); }, 2500));
    EXPECT_EQ(window.portNotice, "COM1 is back");
    EXPECT_TRUE(window.boxes.empty());

    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.readOut(" Power ON"); }));
}

TEST_F(SerialEndToEnd, PortHeldByAnotherProgramIsReportedInTheWarningBox) {
    sim::LineOptions byLink;
    byLink.link = linkPath() + "-2";
    sim::LineServer second{byLink};
    ASSERT_FALSE(second.start());
    const QString path = QString::fromStdString(byLink.link);
    test::Process holder(test::Launch({QCoreApplication::applicationFilePath().toStdString(),
                                       "--hold-port", byLink.link})
                             .output(test::Stream::pipe()));
    ASSERT_TRUE(holder.readOutUntil([](const std::string& said) { return said.ends_with('\n'); }));
    ASSERT_EQ(holder.out(), "held\n");

    serial.setDevice(2, path);
    window.selectOption(ControlId::Option2);
    form.Click(ControlId::Option2);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_FALSE(window.boxes[0].text.empty());
    EXPECT_EQ(window.boxes[0].title, "VELDAKON");
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(serial.commPort(), 1);
    std::printf("warning box for a held port: \"%s\"\n", window.boxes[0].text.c_str());

    const std::string heldTerminal = second.path();
    holder.stop(SIGKILL);
    // The simulator gives the next opener a fresh terminal behind the link.
    ASSERT_TRUE(runUntil([&] {
        std::error_code unreadable;
        return std::filesystem::read_symlink(byLink.link, unreadable).string() != heldTerminal;
    }));
    // Once the other program lets go, choosing the port again opens it.
    form.Click(ControlId::Option2);
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(SerialEndToEnd, OneDeviceHasOneLockWhateverItIsCalled) {
    // The line is open by its link; by its own name it is the same device, and taken.
    const std::string device = server->path();
    ASSERT_NE(device, linkPath());
    const std::string names[] = {device, linkPath()};
    for (const std::string& name : names) {
        QtSerialControl other;
        other.setDevice(1, QString::fromStdString(name));
        const SerialResult opened = other.setPortOpen(true);
        EXPECT_TRUE(opened.failed()) << name << " opened a second time";
        EXPECT_FALSE(other.portOpen()) << name;
    }
}

// A terminal opened by its own name: whatever takes that name next may be another device.
TEST(SerialByPath, LineLostUnderAPathAnotherDeviceMayTakeIsLeftForTheOperator) {
    sim::LineServer server{sim::LineOptions{}};
    ASSERT_FALSE(server.start());
    HeadlessPanel panel;
    panel.load(QString::fromStdString(server.path()));
    ASSERT_TRUE(panel.serial.portOpen());
    server.dropLine();
    ASSERT_TRUE(runUntil([&] { return !panel.serial.portOpen(); }));
    EXPECT_EQ(panel.window.portNotice, "COM1 lost: the device went away; choose the port again");
    ASSERT_FALSE(server.reopen());
    runFor(1500);
    EXPECT_FALSE(panel.serial.portOpen());
    EXPECT_EQ(server.frameCount(), 0u);
}

}  // namespace
}  // namespace pj
