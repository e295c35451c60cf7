// SPDX-License-Identifier: Apache-2.0
#include "line/hub.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/fakes.h"

using namespace std::string_literals;

namespace pj::line {
namespace {

struct Write {
    std::int64_t ms;
    std::string frame;
    bool operator==(const Write&) const = default;
    friend void PrintTo(const Write& w, std::ostream* os) { *os << w.ms << " ms: " << w.frame; }
};

// What a client that takes the hub's messages opens with, and is greeted with.
const std::string kHello = wire::hello(std::string(wire::kNonceSize, 'n'));

// A message from a client that has said the hello.
std::string msg(std::string_view text) {
    return wire::encode(wire::RecordType::Message, text);
}

struct FakeLine final : LineLink {
    explicit FakeLine(test::VirtualClock& lineClock) : clock(lineClock) {}
    bool write(std::string_view frame) override {
        writes.push_back({clock.now(), std::string(frame)});
        return takes;
    }
    test::VirtualClock& clock;
    std::vector<Write> writes;
    bool takes = true;
};

struct FakeClient final : ClientLink {
    void deliver(std::string_view bytes) override { heard += bytes; }
    void finish(std::string why) override { finished = std::move(why); }
    // What a client that said the hello read: the line's bytes, and the messages.
    std::pair<std::string, std::vector<std::string>> decoded() const {
        wire::ClientReader reader(kHello);
        std::vector<wire::Record> records;
        EXPECT_TRUE(reader.take(heard, records));
        EXPECT_TRUE(reader.greeted());
        std::pair<std::string, std::vector<std::string>> out;
        for (const wire::Record& r : records) {
            if (r.type == wire::RecordType::Data) {
                out.first += r.payload;
            } else {
                out.second.push_back(r.payload);
            }
        }
        return out;
    }
    std::string heard;
    std::string finished;
};

using Messages = std::vector<std::string>;

// A hub on the virtual clock, its deferred calls run when the test says.
struct HubRig {
    HubRig() { hub.lineOpened(line); }

    void runDeferred() {
        while (!deferred.empty()) {
            auto call = std::move(deferred.front());
            deferred.pop_front();
            call();
        }
    }
    // The line answers `bytes` at `ms` from now.
    void answerIn(std::int64_t ms, std::string bytes) {
        clock.at(clock.now() + ms, [this, bytes] { hub.fromLine(bytes); });
    }

    test::VirtualClock clock;
    FakeLine line{clock};
    std::deque<std::function<void()>> deferred;
    std::vector<std::string> log;
    HubSettings settings{.settleMs = 300,
                         .holdMs = 2000,
                         .longestHoldMs = 3000,
                         .turnMs = 3000,
                         .quietMs = 3000,
                         .maxFrame = 16,
                         .maxQueuedPerClient = 2};
    Hub hub{settings, clock.makeTimer(), clock,
            [this](std::function<void()> call) { deferred.push_back(std::move(call)); },
            [this](std::string_view text) { log.emplace_back(text); }};
    FakeClient a, b;
    Hub::ClientId idA = hub.attach(a, "a");
    Hub::ClientId idB = hub.attach(b, "b");
};

TEST(Hub, FramesFromManyClientsGoOutWholeOneAtATimeAsTheLineSettles) {
    HubRig rig;
    // Bytes of two frames arrive interleaved: each goes out whole, in the order completed.
    rig.hub.fromClient(rig.idA, "C0");
    rig.hub.fromClient(rig.idB, "CR0\r");
    rig.hub.fromClient(rig.idA, "0\rC01\n");
    rig.hub.fromClient(rig.idB, "C02\r");
    rig.answerIn(20, "00");
    rig.answerIn(25, "00\r");  // the query's answer ends here,
    rig.answerIn(40, "\x06");  // the first command's here
    rig.clock.advance(1000);   // and the last is never answered: its window ends it
    EXPECT_EQ(rig.line.writes,
              (std::vector<Write>{{0, "CR0\r"}, {25, "C00\r"}, {40, "C01\r"}, {340, "C02\r"}}));
    // Both clients heard the whole line.
    EXPECT_EQ(rig.a.heard, "0000\r\x06");
    EXPECT_EQ(rig.b.heard, "0000\r\x06");
}

TEST(Hub, ClientsTypingLinesAndOverlongFramesAreCutAtTheirEnd) {
    struct Case {
        std::string sent;
        std::vector<std::string> written;
        std::string told;  // messages to a client that talks
    };
    const std::vector<Case> cases{
        {"C00\r\nC01\r\n", {"C00\r", "C01\r"}, ""},
        {"C00\n\nC01\r", {"C00\r", "\r", "C01\r"}, ""},
        {"12345678901234567\rC00\r", {"C00\r"}, "refused frame longer than 16"},
        {"1234567890123456\r", {"1234567890123456\r"}, ""},
    };
    for (const Case& c : cases) {
        HubRig rig;
        // The bytes come in records, a piece in each.
        rig.hub.fromClient(rig.idA, kHello + wire::dataRecord(c.sent.substr(0, 5)));
        rig.hub.fromClient(rig.idA, wire::dataRecord(c.sent.substr(5)));
        rig.clock.advance(1000);
        std::vector<std::string> written;
        for (const Write& w : rig.line.writes) {
            written.push_back(w.frame);
        }
        EXPECT_EQ(written, c.written) << c.sent;
        EXPECT_EQ(rig.a.decoded().second, c.told.empty() ? Messages{} : Messages{c.told}) << c.sent;
    }
}

TEST(Hub, AHoldingClientKeepsTheLineForItsAnswerWhileOthersWait) {
    struct Case {
        std::string hello;
        std::int64_t othersFrameAt;  // A's frame goes unanswered
    };
    const std::vector<Case> cases{
        {"", 300},                     // the settle time
        {kHello + msg("hold"), 2000},  // the hub's hold time
        {kHello + msg("hold 700"), 700},
        {kHello + msg("hold 60000"), 3000},  // never longer than the longest hold
    };
    for (const Case& c : cases) {
        HubRig rig;
        rig.hub.fromClient(rig.idA,
                           c.hello + (c.hello.empty() ? "CR0\r" : wire::dataRecord("CR0\r")));
        rig.hub.fromClient(rig.idB, "C8A\r");
        rig.clock.advance(5000);
        ASSERT_EQ(rig.line.writes.size(), 2u);
        EXPECT_EQ(rig.line.writes[1], (Write{c.othersFrameAt, "C8A\r"})) << c.othersFrameAt;
    }
}

TEST(Hub, AHoldingClientHearsTheAnswersToItsOwnFramesOnly) {
    for (const bool holds : {false, true}) {
        HubRig rig;
        rig.hub.fromClient(rig.idB, "C47\r");
        rig.hub.fromClient(rig.idA,
                           holds ? kHello + msg("hold") + wire::dataRecord("CR0\r") : "CR0\r");
        rig.hub.fromClient(rig.idB, "C47\r");
        rig.answerIn(10, "\x06");        // B's answer
        rig.answerIn(20, "0000\r\x06");  // A's, and in the same read B's next
        rig.answerIn(30, "stray");
        rig.clock.advance(100);
        EXPECT_EQ(rig.line.writes,
                  (std::vector<Write>{{0, "C47\r"}, {10, "CR0\r"}, {20, "C47\r"}}));
        const std::string othersToo = std::string("\x06") + "0000\r\x06" + "stray";
        if (holds) {
            EXPECT_EQ(rig.a.decoded(), std::pair("0000\r"s, Messages{"held", "sent"}));
        } else {
            EXPECT_EQ(rig.a.heard, othersToo);
        }
        EXPECT_EQ(rig.b.heard,
                  "\x06"
                  "0000\r\x06"
                  "stray");
    }
}

TEST(Hub, OnlyClientsThatTalkAreToldAndTheLogSaysEachRefusalOnce) {
    HubRig rig;
    rig.hub.fromClient(rig.idA, kHello + msg("hold x"));

    rig.hub.lineLost("device unplugged");
    rig.hub.fromClient(rig.idA, wire::dataRecord("C00\rC00\r"));
    rig.hub.fromClient(rig.idB, "C00\r");
    rig.hub.lineOpened(rig.line);
    EXPECT_EQ(rig.a.decoded().second,
              (Messages{"refused unknown message", "lost device unplugged",
                        "refused the line is down", "refused the line is down", "back"}));
    EXPECT_EQ(rig.b.heard, "");
    EXPECT_EQ(rig.log, (std::vector<std::string>{
                           "a connected", "b connected", "a: not sent: unknown message",
                           "the line went away: device unplugged", "a: not sent: the line is down",
                           "b: not sent: the line is down"}));
    EXPECT_TRUE(rig.line.writes.empty());
}

TEST(Hub, TheLineGoingAwayRefusesWhatWaitsAndEndsWhatIsInFlight) {
    HubRig rig;
    std::vector<std::optional<std::string>> answers;
    const auto record = [&](const std::optional<std::string>& a) { answers.push_back(a); };
    rig.hub.fromClient(rig.idA, "C00\r");
    rig.hub.transact("CR0", 500, record);
    rig.hub.transact("CR1", 500, record);
    rig.hub.lineLost("gone");
    rig.hub.transact("CR3", 500, record);
    EXPECT_TRUE(answers.empty());  // never inside the call
    rig.runDeferred();
    EXPECT_EQ(answers, (std::vector<std::optional<std::string>>(3, std::nullopt)));
    EXPECT_EQ(rig.hub.queued(), 0u);
    EXPECT_EQ(rig.line.writes.size(), 1u);
}

TEST(Hub, TheServersOwnQueriesTakeTheirAnswerAndWaitTheirTurn) {
    HubRig rig;
    std::vector<std::optional<std::string>> answers;
    const auto record = [&](const std::optional<std::string>& a) { answers.push_back(a); };
    rig.hub.fromClient(rig.idA, "C00\r");
    rig.hub.transact("CR0", 500, record);
    rig.answerIn(10, "\x06\r");
    rig.answerIn(30, "00");
    rig.answerIn(40, "00\rjunk");
    rig.clock.advance(100);
    rig.hub.transact("CR3", 500, record);  // never answered
    rig.clock.advance(600);
    rig.runDeferred();
    EXPECT_EQ(answers, (std::vector<std::optional<std::string>>{"0000\r", std::nullopt}));
    EXPECT_EQ(rig.line.writes, (std::vector<Write>{{0, "C00\r"}, {10, "CR0\r"}, {100, "CR3\r"}}));
}

TEST(Hub, TheLineIsQuietOnlyAfterTheClientsFallSilent) {
    HubRig rig;
    EXPECT_TRUE(rig.hub.quiet());
    rig.hub.fromClient(rig.idA, "C8A\r");
    rig.hub.transact("CR0", 100, [](const auto&) {});  // the server's own do not count
    rig.clock.advance(2999);
    EXPECT_FALSE(rig.hub.quiet());
    rig.clock.advance(1);
    EXPECT_TRUE(rig.hub.quiet());
}

TEST(Hub, AClientFloodingTheQueueIsRefusedAndOthersStillGetTheirTurn) {
    HubRig rig;
    rig.hub.fromClient(rig.idA, kHello + msg("hold"));
    // One in flight, two waiting, one refused.
    rig.hub.fromClient(rig.idA, wire::dataRecord("A1\rA2\rA3\rA4\r"));
    rig.hub.fromClient(rig.idB, "B1\r");
    rig.hub.detach(rig.idA);  // what it left waiting goes with it, its frame in flight ends
    rig.clock.advance(5000);
    std::vector<std::string> written;
    for (const Write& w : rig.line.writes) {
        written.push_back(w.frame);
    }
    EXPECT_EQ(written, (std::vector<std::string>{"A1\r", "B1\r"}));
    EXPECT_EQ(rig.line.writes[1].ms, 2000);
    EXPECT_EQ(rig.a.decoded().second,
              (Messages{"held", "sent", "refused too many frames waiting"}));
}

TEST(Hub, NothingTheLineBringsIsEverAMessageAndRawClientsHearItExactly) {
    // What a client opens with decides how it is spoken to: only the whole hello, as the
    // connection's first bytes, asks for records.
    struct Case {
        const char* name;
        std::string opening;
        bool records;
    };
    const std::vector<Case> cases{
        {"the hello", kHello, true},
        {"the hello in pieces", kHello, true},
        {"a frame", "C00\r", false},
        {"the old hold", "\0hold\r"s, false},
        {"the hello gone wrong", kHello.substr(0, 12) + "!\r", false},
        {"a nonce too short", kHello.substr(0, 20) + "\r", false},
    };
    // A line that brings what looks like the hub's words, NUL and all.
    const std::string spoof =
        "\0lost spoofed\r\0held\rM\x00\x04"
        "back00\r"s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HubRig rig;
        if (std::string_view(c.name).ends_with("pieces")) {
            for (const char byte : c.opening) {
                rig.hub.fromClient(rig.idA, std::string(1, byte));
            }
        } else {
            rig.hub.fromClient(rig.idA, c.opening);
        }
        rig.hub.fromLine(spoof);
        EXPECT_EQ(rig.b.heard, spoof);
        if (c.records) {
            EXPECT_EQ(rig.a.decoded(), std::pair(spoof, Messages{}));
        } else {
            EXPECT_EQ(rig.a.heard, spoof);
        }
    }
}

TEST(Hub, NoClientKeepsTheLineForLongWhileOthersWait) {
    HubRig rig;
    // A asks for a minute on each of its frames, which nobody answers: it gets the longest
    // hold, and once its turn is over B's frame goes before its next.
    rig.hub.fromClient(rig.idA, kHello + msg("hold 60000") + wire::dataRecord("A1\rA2\r"));
    rig.hub.fromClient(rig.idB, "B1\r");
    rig.clock.advance(10000);
    EXPECT_EQ(rig.line.writes, (std::vector<Write>{{0, "A1\r"}, {3000, "B1\r"}, {3300, "A2\r"}}));
}

TEST(Hub, AClientThatSendsNoMoreHasItsFramesWrittenAndAnsweredThenGoes) {
    HubRig rig;
    rig.hub.fromClient(rig.idA, "C00\rCR0\rCR");
    rig.hub.clientDone(rig.idA);
    rig.answerIn(10, "\x06");
    rig.answerIn(20, "00\r");
    rig.clock.advance(15);
    EXPECT_EQ(rig.a.finished, "");
    rig.clock.advance(100);
    EXPECT_EQ(rig.line.writes, (std::vector<Write>{{0, "C00\r"}, {10, "CR0\r"}}));
    EXPECT_EQ(rig.a.heard,
              "\x06"
              "00\r");
    EXPECT_EQ(rig.a.finished, "it sent no more and was answered");
}

}  // namespace
}  // namespace pj::line
