// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "protocol/frame.h"
#include "support/fakes.h"

namespace pj {
namespace {

class Transaction : public ::testing::Test {
  protected:
    void SetUp() override { rig.load(); }

    void send(std::string_view command) { rig.form.send(command); }
    WindowState state() const { return rig.form.state(); }

    test::Rig rig;
};

TEST_F(Transaction, SendWritesTheFrameOnceShowsItsEchoAndOpensTheWindows) {
    rig.serial.arrive("left over");
    rig.window.setCaption(ControlId::Label12, " o l d ");
    send("C00");

    ASSERT_EQ(rig.serial.writes.size(), 1u);
    EXPECT_EQ(rig.serial.writes[0], "C00\r");
    EXPECT_EQ(rig.label(ControlId::Label11), " C 0 0 CR ");
    EXPECT_TRUE(rig.Timer2.enabled());
    EXPECT_TRUE(rig.Timer4.enabled());
    EXPECT_EQ(state().AwaitingReply, 1);
    // A send leaves what was received alone.
    EXPECT_EQ(state().RxBuffer, "left over");
    EXPECT_EQ(rig.label(ControlId::Label12), " o l d ");
}

TEST_F(Transaction, ReplyInTwoPiecesIsShownWholeAtEachArrival) {
    send("CR0");
    rig.clock.advance(20);
    rig.serial.arrive("0");
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 ");
    EXPECT_EQ(state().AwaitingReply, 0);
    rig.serial.arrive("0\r");
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 0 CR ");
    EXPECT_EQ(state().RxBuffer, "00\r");

    // The reply window ends: the buffer empties, the echo stays for the rest of the hold.
    rig.clock.advance(480);
    EXPECT_EQ(state().RxBuffer, "");
    EXPECT_FALSE(rig.Timer2.enabled());
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 0 CR ");
    EXPECT_EQ(rig.label(ControlId::Label11), " C R 0 CR ");

    rig.clock.advance(499);
    EXPECT_EQ(rig.label(ControlId::Label11), " C R 0 CR ");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label11), "");
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    EXPECT_EQ(rig.label(ControlId::Label22), "");
    EXPECT_FALSE(rig.Timer4.enabled());
}

TEST_F(Transaction, NoReplyIsMarkedAtTheEndOfTheWindowThenCleared) {
    rig.window.setCaption(ControlId::Label22, " Power ON");
    send("C01");
    rig.clock.advance(499);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
    EXPECT_EQ(state().AwaitingReply, 0);
    EXPECT_EQ(rig.label(ControlId::Label22), " Power ON");
    rig.clock.advance(500);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    EXPECT_EQ(rig.label(ControlId::Label22), "");
    // Nothing was retried.
    EXPECT_EQ(rig.serial.writes.size(), 1u);
}

TEST_F(Transaction, LateReplyIsShownOnItsOwnAndStaysInTheBufferForTheNextReply) {
    send("C00");
    rig.clock.advance(600);  // window over, " X X X X" shown
    rig.serial.arrive("\x06");
    EXPECT_EQ(rig.label(ControlId::Label12), " ACK ");
    EXPECT_EQ(state().AwaitingReply, 0);

    rig.clock.advance(400);  // the running hold clears it
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    EXPECT_EQ(state().RxBuffer, "\x06");

    send("C01");
    rig.serial.arrive("\r\n");
    EXPECT_EQ(rig.label(ControlId::Label12), " ACK CR LF ");
}

TEST_F(Transaction, SecondSendBeforeTheWindowEndsAppendsItsReplyBehindTheFirst) {
    send("C00");
    rig.serial.arrive("A");
    rig.clock.advance(100);
    send("C01");
    EXPECT_EQ(state().AwaitingReply, 1);
    EXPECT_EQ(rig.label(ControlId::Label11), " C 0 1 CR ");
    rig.serial.arrive("B");
    EXPECT_EQ(rig.label(ControlId::Label12), " A B ");
}

TEST_F(Transaction, EachSendGivesItsOwnFullWindow) {
    send("C00");
    rig.clock.advance(400);
    send("C01");
    rig.clock.advance(499);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
}

TEST_F(Transaction, IntervalsAreStickyAcrossSends) {
    rig.Timer2.setInterval(5000);
    rig.Timer4.setInterval(5500);
    send("C05");
    rig.clock.advance(1000);
    send("C01");  // takes whatever was set last
    rig.clock.advance(4999);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
    rig.clock.advance(499);
    EXPECT_EQ(rig.label(ControlId::Label11), " C 0 1 CR ");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label11), "");
    EXPECT_EQ(rig.Timer2.interval(), 5000);
}

TEST_F(Transaction, AFixedReplyWindowHoldsForEveryButtonAndAfterAHeldButtonsRelease) {
    rig.form.fixReplyWindow(120);
    rig.form.Click(ControlId::Command44);  // a query button, whose own window is 500 ms
    EXPECT_EQ(rig.Timer2.interval(), 120);
    rig.form.MouseDown(ControlId::Command15);  // zoom +, held, sets its own window...
    rig.form.MouseUp(ControlId::Command15);    // ...and its release sets the design's back
    EXPECT_EQ(rig.Timer2.interval(), 120);
    send("C00");
    rig.clock.advance(119);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
}

TEST_F(Transaction, EndingTheReplyWindowEarlyEmptiesTheReceiveBufferForTheNextCommand) {
    send("CR0");
    rig.serial.arrive("00\r");
    rig.form.endReplyWindow();
    EXPECT_EQ(state().RxBuffer, "");
    EXPECT_FALSE(rig.Timer2.enabled());
    rig.form.endReplyWindow();  // nothing open: nothing happens
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 0 CR ");
}

TEST_F(Transaction, CommunicationEventsOtherThanDataAreIgnored) {
    send("C00");
    for (const char* error : {"break", "framing error", "parity error", "overrun"}) {
        rig.serial.raiseEvent({CommEvent::Kind::LineError, error});
    }
    EXPECT_EQ(state().AwaitingReply, 1);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
}

TEST_F(Transaction, SendOnAClosedPortWritesNothingAndSaysSoOncePerSend) {
    ASSERT_FALSE(rig.serial.setPortOpen(false).failed());
    send("C00");
    EXPECT_TRUE(rig.serial.writes.empty());
    EXPECT_EQ(rig.label(ControlId::Label11), " NOT SENT - COM1: the port is not open");
    EXPECT_EQ(state().AwaitingReply, 0);
    EXPECT_FALSE(rig.Timer2.enabled());
    EXPECT_TRUE(rig.window.boxes.empty());
    // The notice clears like an echo would; no " X X X X" for a frame that never left.
    rig.clock.advance(1000);
    EXPECT_EQ(rig.label(ControlId::Label11), "");
    EXPECT_EQ(rig.label(ControlId::Label12), "");
}

TEST_F(Transaction, NoisyLineKeepsTheBufferAndTheEchoBounded) {
    send("CR0");
    const std::string noise(4000, '\xAA');
    for (int i = 0; i < 50; ++i) {
        rig.serial.arrive(noise);
        ASSERT_LE(state().RxBuffer.size(), kRxBufferCap);
    }
    rig.serial.arrive("tail");
    EXPECT_EQ(state().RxBuffer.size(), kRxBufferCap);
    EXPECT_EQ(state().RxBuffer.substr(kRxBufferCap - 4), "tail");
    EXPECT_LE(rig.label(ControlId::Label12).size(), 1 + 4 * kRxBufferCap);
}

TEST_F(Transaction, LostDeviceIsToldOnceRetriedEverySecondAndReopenedWhenBack) {
    rig.serial.openFailure[1] = "No such file or directory";  // unplugged
    rig.serial.loseDevice();
    EXPECT_EQ(rig.window.portNotice, "COM1 lost: the device went away");
    EXPECT_TRUE(rig.window.boxes.empty());

    send("C00");  // nothing goes into a vanished port
    EXPECT_TRUE(rig.serial.writes.empty());
    EXPECT_EQ(rig.label(ControlId::Label11).rfind(" NOT SENT", 0), 0u);

    rig.clock.advance(3500);
    EXPECT_FALSE(rig.serial.portOpen());
    EXPECT_EQ(rig.serial.opens, 0);  // every retry failed quietly
    EXPECT_TRUE(rig.window.boxes.empty());

    rig.serial.openFailure.clear();  // plugged back in
    rig.clock.advance(499);
    EXPECT_FALSE(rig.serial.portOpen());
    rig.clock.advance(1);
    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.window.portNotice, "COM1 is back");
    EXPECT_FALSE(rig.Reconnect.enabled());
    send("C00");
    EXPECT_EQ(rig.serial.wire(), "C00\r");
}

TEST_F(Transaction, ALineServersReasonForALossIsToldADevicesOwnWordsAreNot) {
    struct Row {
        std::string how;
        bool sameDeviceKnown;
        std::string notice;
    };
    const Row rows[] = {
        {"Input/output error", true, "COM1 lost: the device went away"},
        {"pjline: /dev/ttyUSB0 unplugged", true, "COM1 lost: pjline: /dev/ttyUSB0 unplugged"},
        {"pjline: not sent: line down", false,
         "COM1 lost: pjline: not sent: line down; choose the port again"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        if (!rig.serial.portOpen()) {
            ASSERT_FALSE(rig.serial.setPortOpen(true).failed());
        }
        rig.serial.loseDevice(row.sameDeviceKnown, row.how);
        EXPECT_EQ(rig.window.portNotice, row.notice);
    }
}

TEST_F(Transaction, DeviceThatCannotBeToldFromAnotherIsLeftForTheOperatorToChooseAgain) {
    rig.serial.loseDevice(false);
    EXPECT_EQ(rig.window.portNotice, "COM1 lost: the device went away; choose the port again");
    rig.clock.advance(5000);
    EXPECT_EQ(rig.serial.opens, 0);  // whatever took its name is not taken for it
    rig.form.Click(ControlId::Option1);
    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.window.portNotice, "");
}

TEST_F(Transaction, ButtonHeldThroughAnOutageDoesNotGoOnWhenThePortIsBack) {
    rig.form.MouseDown(ControlId::Command15);  // "Zoom" "+", every 105 ms
    rig.clock.advance(300);
    rig.serial.loseDevice();
    rig.clock.advance(1000);  // back at the first retry
    ASSERT_EQ(rig.window.portNotice, "COM1 is back");
    rig.serial.writes.clear();
    rig.clock.advance(1000);
    EXPECT_TRUE(rig.serial.writes.empty());
    EXPECT_EQ(state().RepeatCode, 0);
    rig.form.MouseUp(ControlId::Command15);
    rig.form.MouseDown(ControlId::Command15);  // a new press starts afresh
    EXPECT_EQ(rig.serial.wire(), "C47\r");
}

TEST_F(Transaction, PortsTheOperatorLeftClosedAreNotRetried) {
    rig.serial.openFailure[2] = "Permission denied";
    rig.form.Click(ControlId::Option2);  // a failed selection leaves the port closed
    rig.clock.advance(5000);
    EXPECT_EQ(rig.serial.opens, 0);

    // A lost device whose retry is overtaken by the operator's own choice.
    rig.form.Click(ControlId::Option1);
    rig.serial.loseDevice();
    rig.form.Click(ControlId::Command16);
    rig.clock.advance(5000);
    EXPECT_FALSE(rig.serial.portOpen());
}

TEST_F(Transaction, EndWhileAReplyIsAwaitedClosesThePortAndNothingRunsAfterwards) {
    send("C00");
    EXPECT_TRUE(rig.form.Click(ControlId::Command16));
    EXPECT_FALSE(rig.serial.portOpen());
    EXPECT_TRUE(rig.window.unloaded);
    rig.serial.arrive("00\r");
    rig.clock.advance(10000);
    EXPECT_EQ(rig.label(ControlId::Label11), " C 0 0 CR ");
    EXPECT_EQ(rig.label(ControlId::Label12), "");
}

}  // namespace
}  // namespace pj
