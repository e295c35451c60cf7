// SPDX-License-Identifier: Apache-2.0
#include "sim/projector.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pj::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kAckText{"\x06"};

// Sends one frame at `at` and returns what is due by then.
std::string ask(Projector& p, std::string_view frame, Millis at = 0ms) {
    p.feed(frame, at);
    return p.pollOutput(at);
}

// The panel shows a reply of printable characters as a leading space, then each character
// followed by a space.
std::string echo(std::string_view bytes) {
    std::string out = " ";
    for (const char c : bytes) {
        out += c == '\r' ? std::string("CR") : std::string(1, c);
        out += ' ';
    }
    return out;
}

std::string withoutSpaces(std::string text) {
    std::erase(text, ' ');
    return text;
}

// ---- Addressing ------------------------------------------------------------------------

struct AddressCase {
    int address;
    std::string prefix;
    bool acted;
    std::string answer;
};

TEST(ProjectorAddressing, ActsAndAnswersByPrefix) {
    const std::vector<AddressCase> cases{
        {1, "", true, std::string(kAckText)},
        {1, "A001", true, std::string(kAckText)},
        {1, "AFFF", true, ""},
        {1, "A002", false, ""},
        {1, "A004", false, ""},
        {3, "A003", true, std::string(kAckText)},
        {3, "A001", false, ""},
        {3, "", true, std::string(kAckText)},
        {4, "AFFF", true, ""},
        {2, "a002", true, std::string(kAckText)},
        {2, "afff", true, ""},
        // Not an address: the frame as a whole is an unknown command.
        {1, "A005", false, "?\r"},
        {1, "A00", false, "?\r"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE("address " + std::to_string(c.address) + " prefix '" + c.prefix + "'");
        Projector p;
        p.settings().address = c.address;
        EXPECT_EQ(ask(p, c.prefix + "C07\r"), c.answer);
        EXPECT_EQ(p.state().input, c.acted ? 3 : 1);
        EXPECT_EQ(p.frameCount(), 1u);
    }
}

TEST(ProjectorAddressing, QueriesToAllProjectorsGoUnanswered) {
    Projector p;
    EXPECT_EQ(ask(p, "AFFFCR0\r"), "");
    EXPECT_FALSE(p.nextDue().has_value());
    EXPECT_EQ(ask(p, "A001CR0\r"), "00\r");
}

TEST(ProjectorAddressing, AddressWithoutCommandIsIgnored) {
    Projector p;
    EXPECT_EQ(ask(p, "A001\r"), "");
    EXPECT_EQ(ask(p, "\r"), "");
    EXPECT_EQ(p.frameCount(), 2u);
}

// ---- Status queries --------------------------------------------------------------------

struct QueryCase {
    std::string name;
    std::function<void(ProjectorState&)> setup;
    std::string query;
    std::string reply;
};

TEST(ProjectorQueries, AnswerInTheFormatsTheDecodersRead) {
    const auto none = [](ProjectorState&) {};
    const std::vector<QueryCase> cases{
        {"on", none, "CR0", "00\r"},
        {"standby", [](ProjectorState& s) { s.power = "80"; }, "CR0", "80\r"},
        {"power fail", [](ProjectorState& s) { s.power = "10"; }, "CR0", "10\r"},
        {"input 1", none, "CR1", "1\r"},
        {"input 5", [](ProjectorState& s) { s.input = 5; }, "CR1", "5\r"},
        {"hours", none, "CR3", "01234\r"},
        {"few hours", [](ProjectorState& s) { s.lampHours = 7; }, "CR3", "00007\r"},
        {"too many hours", [](ProjectorState& s) { s.lampHours = 123456; }, "CR3", "99999\r"},
        {"normal", none, "CR4", "11\r"},
        {"flipped", [](ProjectorState& s) { s.orientation = "10"; }, "CR4", "10\r"},
        {"temperatures", none, "CR6", " 25.0  30.5  28.0   31.5\r"},
        {"both lamps", none, "CR7", "03\r"},
        {"lamp 1 failed", [](ProjectorState& s) { s.lampFailed[0] = true; }, "CR7", "02\r"},
        {"lamp 2 failed", [](ProjectorState& s) { s.lampFailed[1] = true; }, "CR7", "01\r"},
        {"lamp-1 mode", [](ProjectorState& s) { s.lampMode = LampMode::Lamp1; }, "CR7", "11\r"},
        {"lamp-2 mode", [](ProjectorState& s) { s.lampMode = LampMode::Lamp2; }, "CR7", "22\r"},
        {"lamp-2 mode, lamp 2 failed",
         [](ProjectorState& s) { s.lampMode = LampMode::Lamp2, s.lampFailed[1] = true; }, "CR7",
         "20\r"},
        {"standby, two lamps", [](ProjectorState& s) { s.power = "80"; }, "CR7", "00\r"},
        {"standby, lamp-1 mode",
         [](ProjectorState& s) { s.power = "80", s.lampMode = LampMode::Lamp1; }, "CR7", "10\r"},
        {"unmuted", none, "CRA", "00\r"},
        {"no show", [](ProjectorState& s) { s.noShow = true; }, "CRA", "01\r"},
        {"shutter", [](ProjectorState& s) { s.shutterClosed = true; }, "CRA", "01\r"},
        {"audio", [](ProjectorState& s) { s.audioMute = true; }, "CRA", "02\r"},
        {"both muted", [](ProjectorState& s) { s.shutterClosed = true, s.audioMute = true; }, "CRA",
         "03\r"},
        {"no signal", [](ProjectorState& s) { s.signalPresent = false; }, "CRA", "80\r"},
        {"mute in standby", [](ProjectorState& s) { s.power = "80", s.noShow = true; }, "CRA",
         "FF\r"},
        {"info", [](ProjectorState& s) { s.info = "FW 2.10"; }, "CR9", "FW 2.10\r"},
        {"pressure", none, "CR PRESSURE", "512\r"},
        {"negative pressure", [](ProjectorState& s) { s.pressure = -40; }, "CR PRESSURE", "-40\r"},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Projector p;
        c.setup(p.state());
        const ProjectorState before = p.state();
        EXPECT_EQ(ask(p, c.query + "\r"), c.reply);
        EXPECT_EQ(p.state(), before) << "a query changed the state";
    }
}

struct TemperatureCase {
    std::array<double, 4> readings;
    std::array<std::string, 4> shown;
};

// The panel shows sensor n as a fixed slice of the reply's echo text; each slice must hold
// exactly one reading.
TEST(ProjectorQueries, TemperatureReadingsLandInTheirSlices) {
    const std::vector<TemperatureCase> cases{
        {{25.0, 30.5, 28.0, 31.5}, {"25.0", "30.5", "28.0", "31.5"}},
        {{123.4, -5.5, 0.0, 9.1}, {"123.4", "-5.5", "0.0", "9.1"}},
        {{-12.5, 99.9, 45.26, 7.0}, {"-12.5", "99.9", "45.3", "7.0"}},
        // Out of range readings are pinned so the layout holds.
        {{1500.0, 100.0, -40.0, 250.0}, {"999.9", "99.9", "-9.9", "99.9"}},
    };
    for (const TemperatureCase& c : cases) {
        Projector p;
        p.state().temperatures = c.readings;
        const std::string reply = ask(p, "CR6\r");
        SCOPED_TRACE(reply);
        ASSERT_EQ(reply.size(), 25u);
        EXPECT_EQ(reply.back(), '\r');
        const std::string text = echo(reply);
        EXPECT_EQ(withoutSpaces(text.substr(0, 10)), c.shown[0]);
        EXPECT_EQ(withoutSpaces(text.substr(14, 8)), c.shown[1]);
        EXPECT_EQ(withoutSpaces(text.substr(27, 8)), c.shown[2]);
        EXPECT_EQ(withoutSpaces(text.substr(40, 8)), c.shown[3]);
    }
}

TEST(ProjectorQueries, EveryQueryEndsInCarriageReturnAndEveryCommandIsAcknowledged) {
    for (const std::string_view command : Projector::knownCommands()) {
        SCOPED_TRACE(std::string(command));
        Projector p;
        const std::string reply = ask(p, std::string(command) + "\r");
        if (command.substr(0, 2) == "CR") {
            ASSERT_GE(reply.size(), 2u);
            EXPECT_EQ(reply.back(), '\r');
            EXPECT_EQ(reply.find('\r'), reply.size() - 1);
        } else {
            EXPECT_EQ(reply, kAckText);
        }
    }
}

// ---- Commands --------------------------------------------------------------------------

using Edit = void (*)(ProjectorState&);

struct CommandCase {
    std::string command;
    Edit before;  // from the default state
    Edit effect;  // what the command should change, and nothing else
};

TEST(ProjectorCommands, ChangeExactlyTheirPartOfTheState) {
    using S = ProjectorState&;
    using T = SignalType;
    const Edit none = [](S) {};
    const std::vector<CommandCase> cases{
        {"C00", [](S s) { s.power = "80"; }, [](S s) { s.power = "00"; }},
        {"C01", none, [](S s) { s.power = "80"; }},
        {"C05", [](S s) { s.input = 3; }, [](S s) { s.input = 1; }},
        {"C06", none, [](S s) { s.input = 2; }},
        {"C07", none, [](S s) { s.input = 3; }},
        {"C08", none, [](S s) { s.input = 4; }},
        {"CF INPUT1 DIGITAL", none, [](S s) { s.input = 1, s.signalTypes[0] = T::Digital; }},
        {"CF INPUT1 YPBPR", none, [](S s) { s.input = 1, s.signalTypes[0] = T::YPbPr; }},
        {"CF INPUT2 VIDEO", none, [](S s) { s.input = 2, s.signalTypes[1] = T::Video; }},
        {"CF INPUT2 YCBCR", none, [](S s) { s.input = 2, s.signalTypes[1] = T::YCbCr; }},
        {"CF INPUT3 DIGITAL", none, [](S s) { s.input = 3, s.signalTypes[2] = T::Digital; }},
        {"CF INPUT3 S-VIDEO", none, [](S s) { s.input = 3, s.signalTypes[2] = T::SVideo; }},
        {"C0D", none, [](S s) { s.noShow = true; }},
        {"C0E", [](S s) { s.noShow = true; }, [](S s) { s.noShow = false; }},
        {"CF VMUTE CLOSE", none, [](S s) { s.shutterClosed = true; }},
        {"CF VMUTE OPEN", [](S s) { s.shutterClosed = true; },
         [](S s) { s.shutterClosed = false; }},
        {"CF LAMPMODE LAMP1", none, [](S s) { s.lampMode = LampMode::Lamp1; }},
        {"CF LAMPMODE LAMP2", none, [](S s) { s.lampMode = LampMode::Lamp2; }},
        {"CF LAMPMODE FULL", [](S s) { s.lampMode = LampMode::Lamp2; },
         [](S s) { s.lampMode = LampMode::Dual; }},
        {"CF FANSPEED MAX", none, [](S s) { s.fanSpeed = FanSpeed::Max; }},
        {"CF FANSPEED NOR", [](S s) { s.fanSpeed = FanSpeed::Max; },
         [](S s) { s.fanSpeed = FanSpeed::Normal; }},
        {"CF IMAGE REAL", none, [](S s) { s.picture = Picture::Real; }},
        {"CF IMAGE CINEMA", none, [](S s) { s.picture = Picture::Cinema; }},
        {"CF IMAGE CUSTOM4", none, [](S s) { s.picture = Picture::Custom4; }},
        {"CF IMAGE STAND", [](S s) { s.picture = Picture::Custom1; },
         [](S s) { s.picture = Picture::Stand; }},
        {"C10", none, [](S s) { s.avSize = AvSize::Wide; }},
        {"C0F", [](S s) { s.avSize = AvSize::Wide; }, [](S s) { s.avSize = AvSize::Normal; }},
        {"C43", none, [](S s) { s.freeze = true; }},
        {"C44", [](S s) { s.freeze = true; }, [](S s) { s.freeze = false; }},
        {"C1C", none, [](S s) { s.menu = true; }},
        {"C1D", [](S s) { s.menu = true; }, [](S s) { s.menu = false; }},
        {"C47", none, [](S s) { s.zoom = 1; }},
        {"C46", none, [](S s) { s.zoom = -1; }},
        {"C4B", none, [](S s) { s.focus = 1; }},
        {"C4A", none, [](S s) { s.focus = -1; }},
        {"C30", none, [](S s) { s.digitalZoom = 1; }},
        {"C31", none, [](S s) { s.digitalZoom = -1; }},
        {"C8E", none, [](S s) { s.keystoneV = 1; }},
        {"C8F", none, [](S s) { s.keystoneV = -1; }},
        {"C90", none, [](S s) { s.keystoneH = 1; }},
        {"C91", none, [](S s) { s.keystoneH = -1; }},
        {"C5D", none, [](S s) { s.shiftV = 1; }},
        {"C5E", none, [](S s) { s.shiftV = -1; }},
        {"C5F", none, [](S s) { s.shiftH = -1; }},
        {"C60", none, [](S s) { s.shiftH = 1; }},
        {"c31", none, [](S s) { s.digitalZoom = -1; }},
        {"cf image real", none, [](S s) { s.picture = Picture::Real; }},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.command);
        Projector p;
        c.before(p.state());
        ProjectorState expected = p.state();
        c.effect(expected);
        ASSERT_NE(expected, p.state()) << "the case changes nothing";
        EXPECT_EQ(ask(p, c.command + "\r"), kAckText);
        EXPECT_TRUE(p.state() == expected);
    }
}

TEST(ProjectorCommands, AdjustmentsStopAtTheirLimits) {
    constexpr int limit = ProjectorState::kAdjustLimit;
    Projector p;
    p.state().zoom = limit;
    p.state().shiftH = -limit;
    EXPECT_EQ(ask(p, "C47\rC5F\r"), "\x06\x06");
    EXPECT_EQ(p.state().zoom, limit);
    EXPECT_EQ(p.state().shiftH, -limit);
    ask(p, "C46\rC60\r");
    EXPECT_EQ(p.state().zoom, limit - 1);
    EXPECT_EQ(p.state().shiftH, -limit + 1);
}

TEST(ProjectorCommands, AcknowledgedWithoutVisibleEffect) {
    for (const std::string command :
         {"C3C", "C3D", "C3B", "C3A", "C3F", "C89", "C27", "C8A", "C1E"}) {
        SCOPED_TRACE(command);
        Projector p;
        EXPECT_EQ(ask(p, command + "\r"), kAckText);
        EXPECT_EQ(p.state(), ProjectorState{});
    }
}

TEST(ProjectorCommands, UnknownOnesAreQuestionedAndChangeNothing) {
    for (const std::string command :
         {"C99", "CR0 ", " CR0", "CF IMAGE", "CF INPUT4 VIDEO", "XYZ", "\x01\x02"}) {
        SCOPED_TRACE(command);
        Projector p;
        EXPECT_EQ(ask(p, command + "\r"), "?\r");
        EXPECT_EQ(p.state(), ProjectorState{});
    }
}

TEST(ProjectorCommands, PowerCommandsFollowThePowerState) {
    struct Case {
        std::string from;
        std::string command;
        std::string to;
    };
    const std::vector<Case> cases{
        {"80", "C00", "00"}, {"04", "C00", "00"}, {"00", "C00", "00"},
        {"10", "C00", "10"}, {"20", "C00", "20"}, {"00", "C01", "80"},
        {"08", "C01", "80"}, {"80", "C01", "80"}, {"10", "C01", "10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + " " + c.command);
        Projector p;
        p.state().power = c.from;
        EXPECT_EQ(ask(p, c.command + "\r"), kAckText);
        EXPECT_EQ(ask(p, "CR0\r"), c.to + "\r");
    }
}

TEST(ProjectorCommands, WarmUpAndCoolDownTakeTheirTime) {
    struct Step {
        Millis at;
        std::string frame;
        std::string reply;
    };
    const std::vector<Step> steps{
        {0ms, "C00", std::string(kAckText)},
        {10ms, "CR0", "40\r"},
        {10ms, "CR7", "03\r"},
        {2999ms, "CR0", "40\r"},
        {3000ms, "CR0", "00\r"},
        {4000ms, "C01", std::string(kAckText)},
        {4000ms, "CR0", "20\r"},
        {4000ms, "CRA", "FF\r"},
        {5000ms, "C00", std::string(kAckText)},
        {8999ms, "CR0", "20\r"},
        {9000ms, "CR0", "80\r"},
        {9500ms, "C00", std::string(kAckText)},
        {9500ms, "CR0", "40\r"},
        {9600ms, "C01", std::string(kAckText)},
        {9600ms, "CR0", "20\r"},
        {14600ms, "CR0", "80\r"},
    };
    Projector p;
    p.state().power = "80";
    p.settings().warmUp = 3000ms;
    p.settings().coolDown = 5000ms;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.at.count()) + " " + step.frame);
        EXPECT_EQ(ask(p, step.frame + "\r", step.at), step.reply);
    }
}

// ---- Framing -------------------------------------------------------------------------

TEST(ProjectorFraming, FramesSurviveAnySplitAndStrayLineFeeds) {
    const std::vector<std::vector<std::string>> feeds{
        {"A001CR0\r"},
        {"A", "0", "0", "1", "C", "R", "0", "\r"},
        {"A00", "1CR0", "", "\r"},
        {"\nA001CR0\r\n"},
        {"A0\n01CR\n0", "\n\r"},
    };
    for (const auto& pieces : feeds) {
        Projector p;
        std::string out;
        Millis t = 0ms;
        for (const std::string& piece : pieces) {
            p.feed(piece, t);
            out += p.pollOutput(t);
            t += 1ms;
        }
        EXPECT_EQ(out, "00\r");
        ASSERT_EQ(p.frames().size(), 1u);
        EXPECT_EQ(p.frames()[0].text, "A001CR0");
    }
}

TEST(ProjectorFraming, SeveralFramesInOneFeedAreAnsweredInOrder) {
    Projector p;
    EXPECT_EQ(ask(p, "CR0\rC07\rCR1\r"),
              "00\r\x06"
              "3\r");
    EXPECT_EQ(p.frameCount(), 3u);
}

TEST(ProjectorFraming, RunawayFrameIsDroppedUpToItsCarriageReturn) {
    struct Case {
        std::size_t length;
        std::string answer;
        std::size_t overflows;
    };
    const std::vector<Case> cases{
        {kMaxFrame, "?\r", 0},
        {kMaxFrame + 1, "", 1},
        {100'000, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Projector p;
        EXPECT_EQ(ask(p, std::string(c.length, 'x') + "\r"), c.answer);
        EXPECT_EQ(p.overflowCount(), c.overflows);
        EXPECT_EQ(ask(p, "CR0\r"), "00\r") << "the next frame is whole again";
    }
}

TEST(ProjectorFraming, RunawayFrameEndsOnlyAtItsCarriageReturn) {
    Projector p;
    p.feed(std::string(kMaxFrame + 10, 'x'), 0ms);
    // Still the runaway frame: swallowed with it.
    EXPECT_EQ(ask(p, "CR0\r"), "");
    EXPECT_EQ(ask(p, "CR0\r"), "00\r");
    EXPECT_EQ(p.frameCount(), 1u);
}

// ---- Recording ---------------------------------------------------------------------------

TEST(ProjectorRecording, KeepsEveryFrameWithTheTimeOfItsCarriageReturn) {
    Projector p;
    p.settings().address = 2;
    p.feed("CR", 5ms);
    p.feed("0\r", 7ms);
    p.feed("C00\rA001C", 9ms);
    p.feed("01\r", 12ms);
    p.feed("AFFFC07\rC0", 20ms);

    const std::vector<std::pair<Millis, std::string>> expected{
        {7ms, "CR0"}, {9ms, "C00"}, {12ms, "A001C01"}, {20ms, "AFFFC07"}};
    ASSERT_EQ(p.frames().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(p.frames()[i].at, expected[i].first) << i;
        EXPECT_EQ(p.frames()[i].text, expected[i].second) << i;
    }
    EXPECT_EQ(p.frameCount(), 4u);
}

TEST(ProjectorRecording, CountsWithoutKeepingWhenRecordingIsOff) {
    Projector p;
    p.settings().record = false;
    std::vector<std::string> observed;
    p.setFrameObserver([&](const ReceivedFrame& f) { observed.push_back(f.text); });
    ask(p, "CR0\rC01\r");
    EXPECT_TRUE(p.frames().empty());
    EXPECT_EQ(p.frameCount(), 2u);
    EXPECT_EQ(observed, (std::vector<std::string>{"CR0", "C01"}));
}

// ---- Scheduling of what goes out -----------------------------------------------------

TEST(ProjectorOutput, DelayHoldsTheAnswerBack) {
    Projector p;
    p.settings().replyDelay = 100ms;
    p.feed("CR0\r", 10ms);
    EXPECT_EQ(p.nextDue(), 110ms);
    EXPECT_EQ(p.pollOutput(109ms), "");
    EXPECT_EQ(p.pollOutput(110ms), "00\r");
    EXPECT_FALSE(p.nextDue().has_value());
}

TEST(ProjectorOutput, SplitAnswersComeInPiecesAGapApart) {
    struct Case {
        std::size_t split;
        std::vector<std::pair<Millis, std::string>> pieces;
    };
    const std::vector<Case> cases{
        {0, {{50ms, "512\r"}}},
        {2, {{50ms, "51"}, {70ms, "2\r"}}},
        {1, {{50ms, "5"}, {70ms, "1"}, {90ms, "2"}, {110ms, "\r"}}},
        {10, {{50ms, "512\r"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.split);
        Projector p;
        p.settings().replyDelay = 50ms;
        p.settings().splitSize = c.split;
        p.settings().splitGap = 20ms;
        p.feed("CR PRESSURE\r", 0ms);
        ASSERT_EQ(p.pending().size(), c.pieces.size());
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            EXPECT_EQ(p.pending()[i].due, c.pieces[i].first);
            EXPECT_EQ(p.pending()[i].bytes, c.pieces[i].second);
        }
        // Each piece is handed out on its own once its time has come.
        for (const auto& [due, bytes] : c.pieces) {
            EXPECT_EQ(p.pollOutput(due - 1ms), "");
            EXPECT_EQ(p.pollOutput(due), bytes);
        }
    }
}

TEST(ProjectorOutput, AnswersNeverOvertakeEachOther) {
    Projector p;
    p.settings().replyDelay = 100ms;
    p.settings().splitSize = 1;
    p.settings().splitGap = 10ms;
    p.feed("CR0\r", 0ms);  // "0" at 100, "0" at 110, CR at 120
    p.settings().replyDelay = 0ms;
    p.settings().splitSize = 0;
    p.feed("CR1\r", 5ms);
    EXPECT_EQ(p.pollOutput(119ms), "00");
    EXPECT_EQ(p.pollOutput(120ms), "\r1\r");
}

TEST(ProjectorOutput, SplitAnswersInARowStayInPiecesOfTheirOwn) {
    Projector p;
    p.settings().splitSize = 2;
    p.settings().splitGap = 10ms;
    p.feed("CR1\rCR0\r", 0ms);  // "1\r" at 0, then "00" and "\r" a gap apart each
    EXPECT_EQ(p.pollOutput(0ms), "1\r");
    EXPECT_EQ(p.pollOutput(10ms), "00");
    EXPECT_EQ(p.pollOutput(20ms), "\r");
}

TEST(ProjectorOutput, SilentActsButSaysNothing) {
    Projector p;
    p.settings().silent = true;
    EXPECT_EQ(ask(p, "C07\rCR1\r"), "");
    EXPECT_FALSE(p.nextDue().has_value());
    EXPECT_EQ(p.state().input, 3);
    p.settings().silent = false;
    EXPECT_EQ(ask(p, "CR1\r"), "3\r");
}

TEST(ProjectorOutput, NoiseGoesOutAheadOfAnswersAndOnItsOwn) {
    Projector p;
    p.settings().noise = "\x15#";
    EXPECT_EQ(ask(p, "CR0\r"), "\x15#00\r");

    p.settings().noise.clear();
    p.queueBytes("zz", 30ms);
    p.queueGarbage(16, 20ms);
    EXPECT_EQ(p.nextDue(), 20ms);
    EXPECT_EQ(p.pollOutput(20ms).size(), 16u);
    EXPECT_EQ(p.pollOutput(30ms), "zz");
}

}  // namespace
}  // namespace pj::sim
