// SPDX-License-Identifier: Apache-2.0
#include "sim/bus.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pj::sim {
namespace {

using namespace std::chrono_literals;

// Projector i of the bus counts 1111 * (i + 1) lamp hours, so each answer to CR3 tells who
// gave it.
Bus numberedBus(const std::vector<int>& addresses) {
    Bus bus = Bus::withAddresses(addresses, ProjectorSettings{});
    for (std::size_t i = 0; i < bus.size(); ++i) {
        bus.projector(i).state().lampHours = 1111 * static_cast<int>(i + 1);
    }
    return bus;
}

struct AddressCase {
    std::vector<int> addresses;
    std::string prefix;
    std::vector<bool> acts;  // by bus order
    std::string acks;        // what the line carries for the command
    std::string lampHours;   // ... and for the query
};

TEST(BusAddressing, EachFrameIsActedOnAndAnsweredByTheProjectorsItsAddressNames) {
    const std::string ack(1, kAck);
    const std::vector<AddressCase> cases{
        {{1}, "", {true}, ack, "01111\r"},
        {{1}, "A001", {true}, ack, "01111\r"},
        {{1}, "A002", {false}, "", ""},
        {{1}, "AFFF", {true}, "", ""},
        // Without an address all four answer at once: their answers collide.
        {{1, 2, 3, 4},
         "",
         {true, true, true, true},
         std::string(4, kAck),
         "0000"
         "1234"
         "1234"
         "1234"
         "1234"
         "\r\r\r\r"},
        {{1, 2, 3, 4}, "A001", {true, false, false, false}, ack, "01111\r"},
        {{1, 2, 3, 4}, "A002", {false, true, false, false}, ack, "02222\r"},
        {{1, 2, 3, 4}, "A003", {false, false, true, false}, ack, "03333\r"},
        {{1, 2, 3, 4}, "A004", {false, false, false, true}, ack, "04444\r"},
        {{1, 2, 3, 4}, "AFFF", {true, true, true, true}, "", ""},
        {{4, 2}, "A002", {false, true}, ack, "02222\r"},
        {{4, 2}, "A003", {false, false}, "", ""},
        {{4, 2},
         "",
         {true, true},
         std::string(2, kAck),
         "00"
         "12"
         "12"
         "12"
         "12"
         "\r\r"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.addresses.size()) + " projectors, prefix '" + c.prefix + "'");
        Bus bus = numberedBus(c.addresses);
        bus.feed(c.prefix + "C07\r", 0ms);
        EXPECT_EQ(bus.pollOutput(0ms), c.acks);
        for (std::size_t i = 0; i < bus.size(); ++i) {
            EXPECT_EQ(bus.projector(i).state().input, c.acts[i] ? 3 : 1) << "projector " << i;
        }
        bus.feed(c.prefix + "CR3\r", 5ms);
        EXPECT_EQ(bus.pollOutput(5ms), c.lampHours);
        EXPECT_FALSE(bus.nextDue().has_value());
        // The line's record holds each frame once, whoever it was for.
        ASSERT_EQ(bus.frames().size(), 2u);
        EXPECT_EQ(bus.frames()[1].text, c.prefix + "CR3");
    }
}

struct TimingCase {
    std::string name;
    std::vector<Millis> delays;  // by bus order, addresses 1, 2, ...
    std::size_t splitFirst;      // the first projector's split size (0: whole)
    std::vector<std::pair<Millis, std::string>> frames;
    std::vector<std::pair<Millis, std::string>> line;  // when what goes out
};

TEST(BusTiming, AnswersGoOutInTheOrderTheyFellDueEachProjectorOnItsOwnDelay) {
    const std::vector<TimingCase> cases{
        {"unaddressed, four delays",
         {30ms, 10ms, 20ms, 0ms},
         0,
         {{0ms, "CR1\r"}},
         {{0ms, "4\r"}, {10ms, "2\r"}, {20ms, "3\r"}, {30ms, "1\r"}}},
        {"a later frame to a quicker projector",
         {30ms, 10ms},
         0,
         {{0ms, "A001CR1\r"}, {5ms, "A002CR1\r"}},
         {{15ms, "2\r"}, {30ms, "1\r"}}},
        {"pieces of one answer around another's",
         {0ms, 5ms},
         1,
         {{0ms, "CR1\r"}},
         {{0ms, "1"}, {5ms, "2\r"}, {20ms, "\r"}}},
        {"equal delays collide", {7ms, 7ms}, 0, {{0ms, "CR1\r"}}, {{7ms, "12\r\r"}}},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> addresses;
        for (std::size_t i = 0; i < c.delays.size(); ++i) {
            addresses.push_back(static_cast<int>(i + 1));
        }
        Bus bus = Bus::withAddresses(addresses, ProjectorSettings{});
        for (std::size_t i = 0; i < bus.size(); ++i) {
            bus.projector(i).state().input = static_cast<int>(i + 1);
            bus.projector(i).settings().replyDelay = c.delays[i];
        }
        bus.projector(0).settings().splitSize = c.splitFirst;
        for (const auto& [at, frame] : c.frames) {
            bus.feed(frame, at);
        }
        for (const auto& [due, bytes] : c.line) {
            EXPECT_EQ(bus.nextDue(), due);
            EXPECT_EQ(bus.pollOutput(due - 1ms), "");
            EXPECT_EQ(bus.pollOutput(due), bytes);
        }
        EXPECT_FALSE(bus.nextDue().has_value());
    }
}

TEST(BusTiming, ALatePollKeepsTheOrderTheAnswersFellDue) {
    Bus bus = Bus::withAddresses({1, 2}, ProjectorSettings{});
    bus.projector(0).settings().replyDelay = 20ms;
    bus.projector(1).state().input = 2;
    bus.feed("CR1\r", 0ms);
    EXPECT_EQ(bus.pollOutput(100ms), "2\r1\r");
}

}  // namespace
}  // namespace pj::sim
