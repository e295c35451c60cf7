// SPDX-License-Identifier: Apache-2.0
// The PJLink face without sockets: the digest, the line, the table against a simulated
// projector, authentication and the idle close on a virtual clock.

#include "line/pjlink.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/projector.h"

namespace pj::line::pjlink {
namespace {

using Millis = std::chrono::milliseconds;

TEST(PjlinkMd5, MatchesTheKnownDigests) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // A random number and a password, as a PJLink client digests them.
        {"a572f60cpassword", "e3d97429adffa11bce1f7275813d4bde"},
    };
    for (const auto& [text, digest] : vectors) {
        EXPECT_EQ(md5Hex(text), digest) << text;
    }
}

TEST(PjlinkLine, IsReadOrRejectedWithTheRightAnswer) {
    using Why = Rejected::Why;
    const std::string longLine = "%1NAME " + std::string(200, 'x');
    const struct {
        std::string line;
        bool tooLong;
        std::variant<Request, Rejected> expected;
    } cases[] = {
        {"%1POWR 1", false, Request{'1', "POWR", "1"}},
        {"%1INF1 ?", false, Request{'1', "INF1", "?"}},
        {"%1POWR", false, Rejected{Why::BadParameter, "%1POWR"}},
        {"%1POWR1", false, Rejected{Why::BadParameter, "%1POWR"}},
        {"%1POWR \x01", false, Rejected{Why::BadParameter, "%1POWR"}},
        {"%2FREZ 1", false, Request{'2', "FREZ", "1"}},
        {"%3FREZ 1", false, Rejected{Why::UnknownCommand, "%3FREZ"}},
        {longLine.substr(0, 135), true, Rejected{Why::TooLong, "%1NAME"}},
        {"POWR 1", false, Rejected{Why::Malformed, {}}},
        {"%1powr 1", false, Rejected{Why::Malformed, {}}},
        {"%0POWR 1", false, Rejected{Why::Malformed, {}}},
        {"%1", false, Rejected{Why::Malformed, {}}},
        {"", false, Rejected{Why::Malformed, {}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseLine(c.line, c.tooLong), c.expected) << c.line;
    }
}

TEST(PjlinkSearch, OnlyASearchIsAnsweredEachProjectorWithAMacOfItsOwn) {
    const std::pair<std::string_view, bool> datagrams[] = {
        {"%2SRCH\r", true},
        {"%2SRCH\n", true},
        {"%2SRCH\r\n", true},
        {"%2SRCH", false},
        {"%2SRCH \r", false},
        {"%1SRCH\r", false},
        {"%2ACKN=02:00:00:00:00:00\r", false},
        {"%2SRCH\r%2SRCH\r", false},
    };
    for (const auto& [datagram, search] : datagrams) {
        EXPECT_EQ(isSearch(datagram), search) << datagram;
    }
    const std::string one = endpointMac("hall", 1);
    EXPECT_EQ(one, endpointMac("hall", 1));
    EXPECT_NE(one, endpointMac("hall", 2));
    EXPECT_NE(one, endpointMac("hallway", 1));
    // Six octets; the first says locally administered and unicast.
    EXPECT_EQ(one.size(), 17U);
    EXPECT_EQ(one.substr(0, 3), "02:");
    EXPECT_EQ(searchAnswer(one), "%2ACKN=" + one + "\r");
}

// A face on a simulated projector spoken to without an address; what it was sent is kept.
struct Bench {
    sim::Projector projector;
    std::vector<std::string> sent;
    Face face{{"Hall left", "address 1 on hall"},
              [this](std::string_view text, int,
                     std::function<void(const std::optional<std::string>&)> answer) {
                  sent.emplace_back(text);
                  projector.feed(std::string(text) + "\r", Millis{0});
                  const std::string out = projector.pollOutput(Millis{0});
                  answer(out.empty() ? std::nullopt : std::optional(out));
              }};

    Result run(std::string_view command, std::string_view parameter, char cls = '1') {
        std::optional<Result> result;
        face.carryOut({cls, std::string(command), std::string(parameter)},
                      [&](Result r) { result = std::move(r); });
        return result.value_or("(no answer)");
    }
};

void standby(sim::Projector& p) {
    p.state().power = "80";
}
void warming(sim::Projector& p) {
    p.state().power = "40";
}
void cooling(sim::Projector& p) {
    p.state().power = "20";
}
void on(sim::Projector&) {}

TEST(PjlinkFace, AnswersEachCommandFromTheProjector) {
    const struct {
        void (*state)(sim::Projector&);
        std::string_view command, parameter, result;
        std::vector<std::string> sent;
        char cls = '1';
    } cases[] = {
        {standby, "POWR", "?", "0", {"CR0"}},
        {on, "POWR", "?", "1", {"CR0"}},
        {warming, "POWR", "?", "3", {"CR0"}},
        {cooling, "POWR", "?", "2", {"CR0"}},
        {[](sim::Projector& p) { p.state().power = "10"; }, "POWR", "?", "ERR4", {"CR0"}},
        {standby, "POWR", "1", "OK", {"CR0", "C00"}},
        {on, "POWR", "0", "OK", {"CR0", "C01"}},
        {warming, "POWR", "0", "ERR3", {"CR0"}},
        {cooling, "POWR", "1", "ERR3", {"CR0"}},
        {warming, "INPT", "21", "ERR3", {"CR0"}},
        {on, "POWR", "2", "ERR2", {}},
        {on, "INPT", "32", "OK", {"CR0", "CF INPUT2 DIGITAL"}},
        {on, "INPT", "26", "OK", {"CR0", "CF INPUT3 S-VIDEO"}},
        {on, "INPT", "?", "11", {"CR1"}},
        {[](sim::Projector& p) { p.state().input = 3; }, "INPT", "?", "13", {"CR1"}},
        {[](sim::Projector& p) { p.state().input = 4; }, "INPT", "?", "ERR3", {"CR1"}},
        {on, "INPT", "34", "ERR2", {}},
        {on, "INPT", "51", "ERR2", {}},
        {on, "AVMT", "11", "OK", {"CF VMUTE CLOSE"}},
        {on, "AVMT", "10", "OK", {"CF VMUTE OPEN"}},
        {on, "AVMT", "21", "ERR2", {}},
        {on, "AVMT", "31", "ERR2", {}},
        {on, "AVMT", "?", "30", {"CRA"}},
        {[](sim::Projector& p) { p.state().shutterClosed = true; }, "AVMT", "?", "11", {"CRA"}},
        {[](sim::Projector& p) { p.state().audioMute = true; }, "AVMT", "?", "21", {"CRA"}},
        {standby, "AVMT", "?", "ERR3", {"CRA"}},
        {on, "ERST", "?", "000000", {"CR0"}},
        {[](sim::Projector& p) { p.state().power = "08"; }, "ERST", "?", "001000", {"CR0"}},
        {[](sim::Projector& p) { p.state().power = "81"; }, "ERST", "?", "020000", {"CR0"}},
        {on, "LAMP", "?", "1234 1", {"CR3", "CR7"}},
        {standby, "LAMP", "?", "1234 0", {"CR3", "CR7"}},
        {on, "INST", "?", "11 12 13 14 15 16 17 18 19 21 22 23 24 25 26 31 32 33", {}},
        {on, "NAME", "?", "Hall left", {}},
        {on, "INF1", "?", "pjline", {}},
        {on, "INF2", "?", "PJ-SIM VER1.00", {"CR9"}},
        {on, "INFO", "?", "address 1 on hall", {}},
        {on, "CLSS", "?", "1", {}},
        {on, "CLSS", "1", "ERR2", {}},
        {on, "SVOL", "1", "ERR1", {}},
        {on, "FREZ", "1", "OK", {"C43"}, '2'},
        {on, "FREZ", "0", "OK", {"C44"}, '2'},
        {on, "FREZ", "?", "ERR3", {"CR0"}, '2'},
        {on, "FREZ", "2", "ERR2", {}, '2'},
        {on, "FREZ", "1", "ERR1", {}},
        {on, "POWR", "?", "ERR1", {}, '2'},
        {[](sim::Projector& p) { p.settings().silent = true; }, "POWR", "?", "ERR4", {"CR0"}},
        {[](sim::Projector& p) { p.settings().silent = true; },
         "AVMT",
         "11",
         "ERR4",
         {"CF VMUTE CLOSE"}},
    };
    for (const auto& c : cases) {
        Bench bench;
        c.state(bench.projector);
        EXPECT_EQ(bench.run(c.command, c.parameter, c.cls), c.result)
            << c.cls << c.command << " " << c.parameter;
        EXPECT_EQ(bench.sent, c.sent) << c.command << " " << c.parameter;
    }
}

TEST(PjlinkFace, RemembersTheSignalTypeChosenAndTheSettingsTakeEffect) {
    Bench bench;
    EXPECT_EQ(bench.run("INPT", "25"), "OK");
    EXPECT_EQ(bench.run("INPT", "?"), "25");
    EXPECT_EQ(bench.projector.state().input, 2);
    EXPECT_EQ(bench.projector.state().signalTypes[1], sim::SignalType::SVideo);
    EXPECT_EQ(bench.run("AVMT", "11"), "OK");
    EXPECT_TRUE(bench.projector.state().shutterClosed);
    EXPECT_EQ(bench.run("POWR", "0"), "OK");
    EXPECT_EQ(bench.projector.state().power, "80");  // no cool-down time set
}

// A session whose commands are held until the test answers them.
struct Conversation {
    std::string written;
    std::vector<std::string> logged;
    std::optional<std::string> closed;
    std::vector<std::pair<Request, std::function<void(Result)>>> held;
    Session session;

    explicit Conversation(std::optional<std::string> password = std::nullopt)
        : session(
              {std::move(password), "0a1b2c3d"}, 0,
              [this](std::string_view bytes) { written += bytes; },
              [this](const Request& r, std::function<void(Result)> done) {
                  held.emplace_back(r, std::move(done));
              },
              [this](std::string_view text) { logged.emplace_back(text); },
              [this](std::string why) { closed = std::move(why); }) {
        session.open();
    }
    // Answers the command under way.
    void answer(const Result& result) {
        ASSERT_FALSE(held.empty());
        auto done = std::move(held.front().second);
        held.erase(held.begin());
        done(result);
    }
};

TEST(PjlinkSession, AuthenticatesTheFirstCommandOnly) {
    Conversation right("secret");
    EXPECT_EQ(right.written, "PJLINK 1 0a1b2c3d\r");
    right.session.take(md5Hex("0a1b2c3dsecret") + "%1CLSS ?\r", 1);
    ASSERT_EQ(right.held.size(), 1u);
    right.answer("1");
    right.session.take("%1POWR ?\r", 2);
    right.answer("0");
    EXPECT_EQ(right.written, "PJLINK 1 0a1b2c3d\r%1CLSS=1\r%1POWR=0\r");
    EXPECT_FALSE(right.closed);

    for (const std::string& first :
         {md5Hex("0a1b2c3dSECRET") + "%1CLSS ?\r", std::string("%1CLSS ?\r")}) {
        Conversation wrong("secret");
        wrong.session.take(first, 1);
        EXPECT_EQ(wrong.written, "PJLINK 1 0a1b2c3d\rPJLINK ERRA\r");
        EXPECT_TRUE(wrong.held.empty());
        EXPECT_TRUE(wrong.closed);
    }

    Conversation open;
    EXPECT_EQ(open.written, "PJLINK 0\r");
}

TEST(PjlinkSession, AnswersInOrderAndSurvivesBadLines) {
    Conversation c;
    // In pieces, pipelined: the quick answers wait for the one in progress.
    c.session.take("%1POWR ?\r%1SV", 1);
    c.session.take("OL 1\r" + std::string("%1NAME ") + std::string(300, 'x') + "\r", 2);
    c.session.take("garbage\r%1POWR\n%1CLSS ?\r\n", 3);
    ASSERT_EQ(c.held.size(), 1u);
    EXPECT_EQ(c.written, "PJLINK 0\r");
    for (const auto& [request, result] : {std::pair{Request{'1', "POWR", "?"}, "1"},
                                          {Request{'1', "SVOL", "1"}, "ERR1"},
                                          {Request{'1', "CLSS", "?"}, "1"}}) {
        ASSERT_EQ(c.held.size(), 1u);
        EXPECT_EQ(c.held.front().first, request);
        c.answer(result);
    }
    EXPECT_EQ(c.written, "PJLINK 0\r%1POWR=1\r%1SVOL=ERR1\r%1NAME=ERR2\r%1POWR=ERR2\r%1CLSS=1\r");
    EXPECT_FALSE(c.closed);

    Conversation flood;
    for (std::size_t i = 0; i <= kMostWaiting + 1; ++i) {
        flood.session.take("%1POWR ?\r", 1);
    }
    EXPECT_TRUE(flood.closed);
}

TEST(PjlinkSession, ClosesAfterThirtyIdleSecondsOnly) {
    Conversation c;
    EXPECT_FALSE(c.session.idleCheck(kIdleMs - 1));
    c.session.take("%1POWR ?\r", 10'000);
    // A command under way is no idleness, however long the projector takes.
    EXPECT_FALSE(c.session.idleCheck(100'000));
    c.answer("0");
    EXPECT_FALSE(c.session.idleCheck(100'000 + kIdleMs - 1));
    EXPECT_FALSE(c.closed);
    EXPECT_TRUE(c.session.idleCheck(100'000 + kIdleMs));
    EXPECT_EQ(c.closed, "idle for 30 s");
}

}  // namespace
}  // namespace pj::line::pjlink
