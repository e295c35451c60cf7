// SPDX-License-Identifier: Apache-2.0
// A field recording as a regression test: pjctl runs against the simulator replaying a line
// log of an earlier pjctl session (tests/data/pjctl_session.jsonl, made by
// tests/data/record_line_log.py against a projector answering 80 ms late, in pieces), and
// must read the same and meet the same timing.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "panel/transaction.h"
#include "sim/line_server.h"
#include "sim/replay.h"

namespace pj::ctl {
namespace {

using namespace std::chrono_literals;
using sim::Millis;

struct Outcome {
    int status;
    std::string out;
};

Outcome pjctl(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, in, out, err);
    return {status, out.str()};
}

// What the line server did, in order: '<' a frame taken in, '>' bytes written, with the
// time on the model's clock.
struct LineEvent {
    char direction;
    std::string bytes;
    Millis at;
};

TEST(ReplayedRecording, PjctlReadsWhatItReadThenWithTheRecordedTiming) {
    sim::ReadRecording read = sim::loadRecording(PJ_TEST_DATA_DIR "/pjctl_session.jsonl");
    ASSERT_EQ(read.error, "");
    const std::vector<sim::RecordedExchange> recorded = read.recording.exchanges;
    ASSERT_EQ(recorded.size(), 4u);

    std::mutex mutex;
    std::vector<LineEvent> events;
    sim::LineOptions options;
    options.trace = [&](char direction, std::string_view bytes) {
        std::lock_guard lock(mutex);
        events.push_back({direction, std::string(bytes), sim::LineServer::clock()});
    };
    sim::LineServer server(options, std::make_unique<sim::Replay>(std::move(read.recording)));
    ASSERT_FALSE(server.start());

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::vector<Case> cases{
        {{"query", "status"}, kExitOk, " Power ON\n"},
        {{"send", "C00"}, kExitOk, " ACK \n"},
        {{"query", "lamp-time"}, kExitOk, " 0 1 2 3 4 CR  Hour Use\n"},
        {{"send", "C99"}, kExitOk, " ? CR \n"},
        // Not on the recording: no answer within the reply window.
        {{"query", "mode"}, kExitNoReply, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args{"--port", server.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = pjctl(args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
    }
    server.stop();

    // Each recorded answer went out whole, its first and last piece no sooner after the frame
    // than on the recording, and well inside the reply window.
    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), cases.size());
    std::size_t frame = 0;
    for (std::size_t i = 0; i < events.size(); ++frame) {
        ASSERT_EQ(events[i].direction, '<');
        std::string answer;
        std::vector<Millis> latencies;
        for (++i; i < events.size() && events[i].direction == '>'; ++i) {
            answer += events[i].bytes;
            latencies.push_back(events[i].at - frames[frame].at);
        }
        if (frame >= recorded.size()) {
            EXPECT_EQ(answer, "") << "frame " << frame << " is not on the recording";
            continue;
        }
        SCOPED_TRACE(recorded[frame].frame);
        const auto& pieces = recorded[frame].answer;
        ASSERT_FALSE(pieces.empty());
        std::string expected;
        for (const sim::Outgoing& piece : pieces) {
            expected += piece.bytes;
        }
        EXPECT_EQ(answer, expected);
        ASSERT_FALSE(latencies.empty());
        EXPECT_GE(pieces.front().due, 80ms) << "the projector on the recording was 80 ms late";
        EXPECT_GE(latencies.front(), pieces.front().due);
        EXPECT_GE(latencies.back(), pieces.back().due);
        EXPECT_LT(latencies.back(), Millis{kTimer2Design});
    }
    EXPECT_EQ(frame, cases.size());
}

}  // namespace
}  // namespace pj::ctl
