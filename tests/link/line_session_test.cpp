// SPDX-License-Identifier: Apache-2.0
#include "projector/line_session.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "panel/port_panel.h"
#include "protocol/catalogue.h"
#include "protocol/frame.h"
#include "protocol/hold.h"
#include "status/queries.h"
#include "support/fakes.h"

namespace pj {
namespace {

// The session on a fake line and the virtual clock, no window anywhere.
struct SessionRig {
    explicit SessionRig(std::string_view settings = kSettings19200) {
        EXPECT_FALSE(line.open(settings).failed());
    }

    test::VirtualClock clock;
    test::FakeSerial serial;
    test::FakeTimer& replyWindow = clock.makeTimer();
    test::FakeTimer& pacer = clock.makeTimer();
    test::FakeTimer& repeat = clock.makeTimer();
    test::FakeTimer& release = clock.makeTimer();
    LineSession line{serial, {replyWindow, pacer, repeat, release}, clock};
    std::optional<LineResult> result;

    LineSession::Done keep() {
        return [this](const LineResult& r) { result = r; };
    }
};

// Every name sends the frame its button sends under the same address, and waits for its
// answer as long as the window does after that button.
TEST(LineSession, EveryNameSendsWhatItsButtonSends) {
    for (const AddressOption& address : kAddressOptions) {
        for (const Command& command : commands()) {
            SCOPED_TRACE(std::string(command.name) + " at " + std::string(address.name));
            test::Rig window;
            window.load();
            window.form.Click(address.control);
            if (const CatalogueEntry* entry = findCatalogueEntry(command.name)) {
                window.form.Click(entry->control);
            } else if (command.kind == CommandKind::Hold) {
                for (const HoldButton& b : kHoldButtons) {
                    if (b.name == command.name) {
                        window.form.MouseDown(b.control);
                    }
                }
            } else {
                const bool hasButton = std::any_of(kQueryButtons.begin(), kQueryButtons.end(),
                                                   [&](const QueryButton& b) {
                                                       if (b.query == command.name) {
                                                           window.form.Click(b.control);
                                                       }
                                                       return b.query == command.name;
                                                   });
                if (!hasButton) {
                    window.type(command.text);
                    window.form.Click(ControlId::Command95);
                }
            }

            SessionRig rig;
            ASSERT_TRUE(rig.line.setAddress(address.number));
            rig.line.send(command, rig.keep());
            ASSERT_EQ(window.serial.writes.size(), 1u);
            EXPECT_EQ(rig.serial.writes, window.serial.writes);
            EXPECT_EQ(rig.replyWindow.interval(), window.Timer2.interval());
        }
    }
}

// One command and its answer: what comes back, as it comes, within the reply window.
TEST(LineSession, TakesTheAnswerWithinTheReplyWindow) {
    struct Row {
        const char* name;
        std::optional<int> fixedWindow;
        std::vector<std::pair<int, std::string>> arrivals;  // at ms, bytes
        int doneAt;                                         // ms after the send
        std::optional<std::string> reply;
        std::string echo;
        std::optional<std::string> readout;
        StatusValue value;
    };
    const Row rows[] = {
        {"power.on", {}, {{30, "\x06"}}, 30, "\x06", " ACK ", {}, {}},
        {"status.operating",
         {},
         {{20, "00\r"}},
         20,
         "00\r",
         " 0 0 CR ",
         " Power ON",
         OperatingState::On},
        // An answer in pieces is taken whole, once its carriage return came.
        {"status.lamp-hours",
         {},
         {{10, "012"}, {40, "34\r"}},
         40,
         "01234\r",
         " 0 1 2 3 4 CR ",
         " 0 1 2 3 4 CR  Hour Use",
         LampHours{1234}},
        // Nothing: the reply window ends it, the query's own or the picture mode's longer one.
        {"status.input", {}, {}, 500, {}, " X X X X", {}, {}},
        {"picture.cinema", {}, {}, 2000, {}, " X X X X", {}, {}},
        {"input.1.rgb", {}, {{4000, "\x06"}}, 4000, "\x06", " ACK ", {}, {}},
        {"input.1.rgb", 100, {}, 100, {}, " X X X X", {}, {}},
        // Something that never ends: what came by the window's end.
        // (a query the panel has no button for waits as long as a typed command).
        {"status.mute", {}, {{100, "0"}}, 2000, "0", " 0 ", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SessionRig rig;
        rig.line.fixReplyWindow(row.fixedWindow);
        for (const auto& [at, bytes] : row.arrivals) {
            rig.clock.at(at, [&rig, b = bytes] { rig.serial.arrive(b); });
        }
        rig.line.send(*findCommand(row.name), rig.keep());
        rig.clock.advance(row.doneAt - 1);
        EXPECT_FALSE(rig.result);
        rig.clock.advance(1);
        ASSERT_TRUE(rig.result);
        EXPECT_EQ(rig.result->reply, row.reply);
        EXPECT_EQ(rig.result->echo, row.echo);
        EXPECT_EQ(rig.result->readout, row.readout);
        EXPECT_EQ(rig.result->value, row.value);
        EXPECT_FALSE(rig.result->portError);
        const bool complete =
            row.reply && (row.reply->back() == '\r' || row.reply->back() == '\x06');
        EXPECT_EQ(rig.result->latencyMs.has_value(), complete);
    }
}

TEST(LineSession, APortThatFailsEndsTheCommandWithItsError) {
    SessionRig rig;
    rig.line.sendText("C00", rig.keep());
    rig.serial.loseDevice(true, "Input/output error");
    ASSERT_TRUE(rig.result);
    EXPECT_EQ(rig.result->portError, "Input/output error");

    // Nothing goes out on a closed port: told at once.
    rig.result.reset();
    rig.line.send(*findCommand("power.off"), rig.keep());
    ASSERT_TRUE(rig.result);
    EXPECT_TRUE(rig.result->frame.empty());
    EXPECT_EQ(rig.result->portError, "the port is not open");
    EXPECT_FALSE(rig.replyWindow.enabled());
}

// A hold repeats its frame, each repeat waiting while the line is busy with the one before.
TEST(LineSession, HoldsWithRepeatsPacedByTheLine) {
    struct Row {
        std::string_view settings;
        int everyMs;
        int least;  // frames
        int most;
    };
    // An 8-character frame ("A001C47\r") takes 4.2 ms at 19200 baud and 8.3 ms at 9600:
    // repeats every 105 ms are never held back; repeats every millisecond go out as the line
    // allows, at most one a frame's time (241 and 121 in a second).
    const Row rows[] = {
        {kSettings19200, 105, 10, 10},
        {kSettings19200, 1, 230, 241},
        {kSettings9600, 1, 115, 121},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.settings) + " every " + std::to_string(row.everyMs));
        SessionRig rig(row.settings);
        ASSERT_TRUE(rig.line.setAddress(1));
        std::optional<LineSession::HoldResult> held;
        rig.line.hold("C47", 1000, row.everyMs, [&](LineSession::HoldResult r) { held = r; });
        rig.clock.advance(999);
        EXPECT_FALSE(held);
        rig.clock.advance(1);
        ASSERT_TRUE(held);
        EXPECT_FALSE(held->portError);
        EXPECT_EQ(static_cast<std::size_t>(held->frames), rig.serial.writes.size());
        EXPECT_GE(held->frames, row.least);
        EXPECT_LE(held->frames, row.most);
        for (const std::string& frame : rig.serial.writes) {
            EXPECT_EQ(frame, "A001C47\r");
        }
        rig.clock.advance(1000);
        EXPECT_EQ(static_cast<std::size_t>(held->frames), rig.serial.writes.size());
    }
}

}  // namespace
}  // namespace pj
