// SPDX-License-Identifier: Apache-2.0
// The poller on the virtual clock against a line that answers what it is told to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_line.h"
#include "json_check.h"
#include "line/poller.h"
#include "support/fakes.h"

namespace pj::line {
namespace {

using test::FakeLine;
using test::Json;
using test::JsonReader;

// What a projector at `prefix` answers when it is on, on input 2, with 1234 lamp hours.
std::map<std::string, std::string> onReplies(const std::string& prefix) {
    return {
        {prefix + "CR0", "00\r"},    {prefix + "CR1", "2\r"},
        {prefix + "CR3", "01234\r"}, {prefix + "CR6", " 25.0  30.5  40.1   35.2\r"},
        {prefix + "CR7", "03\r"},    {prefix + "CRA", "01\r"},
    };
}

struct Published {
    int address;
    std::string json;
};

struct PollRig {
    pj::test::VirtualClock clock;
    FakeLine line{clock};
    std::vector<Published> published;
    std::unique_ptr<Poller> poller;

    explicit PollRig(std::vector<int> addresses, int pollSeconds = 30) {
        Poller::Timing timing;
        timing.pollSeconds = pollSeconds;
        poller = std::make_unique<Poller>(line, clock.makeTimer(), clock.makeTimer(),
                                          std::move(addresses), timing,
                                          [this](int address, const ProjectorState& state) {
                                              published.push_back({address, stateJson(state)});
                                          });
    }
};

std::vector<std::string> queriesOf(const std::string& prefix) {
    std::vector<std::string> frames;
    for (const char* query : {"CR0", "CR1", "CR3", "CR6", "CR7", "CRA"}) {
        frames.push_back(prefix + query);
    }
    return frames;
}

TEST(Poller, AsksEachProjectorTheQueriesInOrderOneAtATimeEveryRound) {
    struct Row {
        std::vector<int> addresses;
        std::vector<std::string> prefixes;
    };
    const Row rows[] = {
        {{0}, {""}},
        {{1, 3}, {"A001", "A003"}},
        {{4, 2}, {"A004", "A002"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.prefixes.front());
        PollRig rig(row.addresses);
        std::vector<std::string> round;
        for (const std::string& prefix : row.prefixes) {
            const std::vector<std::string> queries = queriesOf(prefix);
            round.insert(round.end(), queries.begin(), queries.end());
        }
        rig.poller->start();
        // The next query only once the last one was answered.
        EXPECT_EQ(rig.line.frames, std::vector<std::string>{round.front()});
        rig.clock.advance(39);
        EXPECT_EQ(rig.line.frames.size(), 1u);
        rig.clock.advance(29'000);
        EXPECT_EQ(rig.line.frames, round);
        for (const int window : rig.line.windows) {
            EXPECT_EQ(window, 500);
        }
        rig.clock.advance(2'000);  // the second round, 30 s after the first
        EXPECT_EQ(rig.line.frames.size(), 2 * round.size());
    }
}

TEST(Poller, SendsNothingWhileAnOperatorsButtonRepeatsAndGoesOnOnceTheLineIsFree) {
    PollRig rig({1});
    rig.line.quietNow = false;
    rig.poller->start();
    rig.clock.advance(95'000);  // three rounds due
    EXPECT_TRUE(rig.line.frames.empty());
    rig.line.quietNow = true;
    rig.clock.advance(1'000);
    EXPECT_EQ(rig.line.frames, std::vector<std::string>{"A001CR0"});

    // Busy again in the middle of the projector's queries: it waits where it was.
    rig.clock.advance(40);
    ASSERT_EQ(rig.line.frames.size(), 2u);
    rig.line.quietNow = false;
    rig.clock.advance(10'000);
    EXPECT_EQ(rig.line.frames.size(), 2u);
    rig.line.quietNow = true;
    rig.clock.advance(2'000);
    EXPECT_EQ(rig.line.frames, queriesOf("A001"));
    EXPECT_EQ(rig.published.size(), 1u);
}

// A line that is down answers nothing: every projector is published not responding within
// the round, its last values kept, and responding again in the first round the line is back.
TEST(Poller, ALineThatIsDownLeavesEveryProjectorNotRespondingWithinTheRound) {
    PollRig rig({1, 2});
    rig.line.replies = onReplies("A001");
    rig.poller->start();
    rig.clock.advance(1'000);
    ASSERT_EQ(rig.published.size(), 2u);
    EXPECT_NE(rig.published[0].json.find("\"responding\":true"), std::string::npos);
    EXPECT_NE(rig.published[1].json.find("\"responding\":false"), std::string::npos);

    rig.line.up = false;
    const std::size_t sent = rig.line.frames.size();
    rig.clock.advance(30'000);
    EXPECT_EQ(rig.line.frames.size(), sent);
    ASSERT_EQ(rig.published.size(), 3u);  // projector 2 did not change
    EXPECT_EQ(rig.published[2].address, 1);
    EXPECT_NE(rig.published[2].json.find("\"responding\":false"), std::string::npos);
    EXPECT_NE(rig.published[2].json.find("\"lamp_hours\":1234"), std::string::npos);

    rig.line.up = true;
    rig.clock.advance(31'000);
    ASSERT_EQ(rig.published.size(), 4u);
    EXPECT_NE(rig.published[3].json.find("\"responding\":true"), std::string::npos);
}

TEST(Poller, TurnsTheRepliesValuesIntoStateFields) {
    PollRig rig({2});
    rig.line.replies = onReplies("A002");
    rig.poller->start();
    rig.clock.advance(1'000);
    ASSERT_EQ(rig.published.size(), 1u);
    EXPECT_EQ(rig.published[0].address, 2);
    EXPECT_EQ(rig.published[0].json,
              R"({"power":"on","operating_state":"on","input":2,"lamp_hours":1234,)"
              R"("lamps":[true,true],"lamp_mode":"dual",)"
              R"("temperatures":{"s1":25.0,"s2":30.5,"s3":40.1,"s4":35.2},)"
              R"("video_mute":true,"audio_mute":false,"signal":"present","responding":true})");

    // Each answer on its own: the field it makes.
    struct Row {
        const char* query;
        const char* reply;
        const char* field;  // a piece of the state JSON
    };
    const Row rows[] = {
        {"CR0", "80\r", R"("power":"off","operating_state":"standby")"},
        {"CR0", "40\r", R"("power":"warming","operating_state":"warming")"},
        {"CR0", "20\r", R"("power":"cooling","operating_state":"cooling")"},
        {"CR0", "10\r", R"("power":"fault","operating_state":"power_failure")"},
        {"CR0", "24\r",
         R"("power":"off","operating_state":"power_management_temperature_warning")"},
        {"CR0", "99\r", R"("power":null,"operating_state":null)"},  // no such code
        {"CR1", "5\r", R"("input":5)"},
        {"CR1", "7\r", R"("input":null)"},
        {"CR3", "99999\r", R"("lamp_hours":99999)"},
        {"CR3", "\r", R"("lamp_hours":null)"},
        {"CR6", "-10.5  99.9   0.0   12.5\r", R"({"s1":-10.5,"s2":99.9,"s3":0.0,"s4":12.5})"},
        {"CR6", "  1.0  ---   3.0  4.0\r", R"("s2":null)"},
        {"CR7", "22\r", R"("lamps":[false,true],"lamp_mode":"lamp2")"},
        {"CRA", "FF\r", R"("video_mute":null,"audio_mute":null,"signal":"standby")"},
        {"CRA", "80\r", R"("video_mute":null,"audio_mute":null,"signal":"none")"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.query) + " " + row.reply);
        ProjectorState state;
        for (const StatusQuery* query : polledQueries()) {
            if (query->command == row.query) {
                applyAnswer(*query, row.reply, state);
            }
        }
        const std::string json = stateJson(state);
        EXPECT_NE(json.find(row.field), std::string::npos) << json;
        EXPECT_TRUE(JsonReader::parse(json)) << json;
    }
}

TEST(Poller, PublishesTheFirstStateAndThenOnlyChanges) {
    PollRig rig({1, 2});
    rig.line.replies = onReplies("A001");  // 2 says nothing at all
    rig.poller->start();
    rig.clock.advance(1'000);
    ASSERT_EQ(rig.published.size(), 2u);
    EXPECT_EQ(rig.published[0].address, 1);
    EXPECT_EQ(rig.published[1].address, 2);
    const std::optional<Json> silent = JsonReader::parse(rig.published[1].json);
    ASSERT_TRUE(silent);
    EXPECT_FALSE(silent->at("responding")->flag);
    EXPECT_EQ(silent->at("power")->kind, Json::Kind::Null);

    rig.clock.advance(30'000);  // the same answers again
    EXPECT_EQ(rig.published.size(), 2u);

    rig.line.replies["A001CR1"] = "3\r";
    rig.line.replies.erase("A001CR3");  // unanswered: the hours stay as they were
    rig.clock.advance(30'000);
    ASSERT_EQ(rig.published.size(), 3u);
    EXPECT_EQ(rig.published[2].address, 1);
    const std::optional<Json> changed = JsonReader::parse(rig.published[2].json);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->at("input")->number, 3);
    EXPECT_EQ(changed->at("lamp_hours")->number, 1234);
    EXPECT_TRUE(changed->at("responding")->flag);

    rig.line.replies.clear();  // 1 goes silent: its state says so, once
    rig.clock.advance(60'000);
    ASSERT_EQ(rig.published.size(), 4u);
    EXPECT_NE(rig.published[3].json.find(R"("responding":false)"), std::string::npos);
    EXPECT_NE(rig.published[3].json.find(R"("input":3)"), std::string::npos);
}

TEST(Poller, PollsAProjectorAtOnceWhenAskedAheadOfTheRound) {
    PollRig rig({1, 2, 3});
    rig.poller->start();
    rig.clock.advance(2'000);
    ASSERT_EQ(rig.line.frames.size(), 18u);

    // Idle between rounds: 3's queries go out at once.
    rig.poller->pollSoon(3);
    rig.poller->pollSoon(4);  // not on this line: nothing
    rig.clock.advance(1'000);
    EXPECT_EQ(std::vector<std::string>(rig.line.frames.begin() + 18, rig.line.frames.end()),
              queriesOf("A003"));

    // In the middle of a round: 3 comes next after the projector being polled.
    rig.clock.advance(27'000);  // the round starts with 1's first query
    const std::size_t roundStart = rig.line.frames.size() - 1;
    EXPECT_EQ(rig.line.frames.back(), "A001CR0");
    rig.poller->pollSoon(3);
    rig.clock.advance(2'000);
    std::vector<std::string> expected = queriesOf("A001");
    for (const char* prefix : {"A003", "A002"}) {
        const std::vector<std::string> more = queriesOf(prefix);
        expected.insert(expected.end(), more.begin(), more.end());
    }
    EXPECT_EQ(std::vector<std::string>(rig.line.frames.begin() + roundStart, rig.line.frames.end()),
              expected);
}

}  // namespace
}  // namespace pj::line
