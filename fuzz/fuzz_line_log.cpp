// SPDX-License-Identifier: Apache-2.0
// The line log as the core writes it and the simulator's replay reads it back.
//
// Input: byte 0 chooses. Odd: the rest is a log file of any content; whatever is read of it
// must hold what a recording is (every frame ends in its only carriage return), and a replay
// of it, fed its frames in order, answers each with exactly its recorded pieces. Even: the
// rest is a session written through LineLog, step by step: a byte of kind (frame out, arrival
// in, port event), a byte of time passing in milliseconds, a byte of microseconds, a length
// and the bytes. What is read back must be that session: the frames in order, each with the
// arrivals that followed it, never sooner than they came.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "link/line_log.h"
#include "sim/replay.h"

namespace {

using pj::sim::Millis;

class StepClock final : public pj::Clock {
  public:
    std::int64_t nowUs() const override { return us_; }
    void pass(std::int64_t us) { us_ += us; }

  private:
    std::int64_t us_ = 1'000'000;
};

// Plays `recording` back frame by frame and checks each answer against its record.
void replayChecks(const pj::sim::Recording& recording) {
    for (const pj::sim::RecordedExchange& exchange : recording.exchanges) {
        PJ_FUZZ_CHECK(!exchange.frame.empty());
        PJ_FUZZ_CHECK(exchange.frame.find('\r') == exchange.frame.size() - 1);
        for (const pj::sim::Outgoing& piece : exchange.answer) {
            PJ_FUZZ_CHECK(piece.due.count() >= 0);
        }
    }
    pj::sim::Replay replay(recording, false);
    Millis now{0};
    for (const pj::sim::RecordedExchange& exchange : recording.exchanges) {
        replay.feed(exchange.frame, now);
        // The pieces go out by their offsets (a hand-made log may have them out of order),
        // those of one moment in their recorded order.
        std::vector<pj::sim::Outgoing> pieces = exchange.answer;
        std::stable_sort(pieces.begin(), pieces.end(),
                         [](const auto& a, const auto& b) { return a.due < b.due; });
        std::string want;
        for (const pj::sim::Outgoing& piece : pieces) {
            want += piece.bytes;
        }
        // Nothing is early: just before the first piece is due, nothing has gone out.
        if (!pieces.empty() && pieces.front().due.count() > 0) {
            PJ_FUZZ_CHECK(replay.pollOutput(now + pieces.front().due - Millis{1}).empty());
        }
        now += pieces.empty() ? Millis{0} : pieces.back().due;
        PJ_FUZZ_CHECK(replay.pollOutput(now) == want);
        PJ_FUZZ_CHECK(!replay.nextDue().has_value());
        now += Millis{1};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader input(data, size);
    if ((input.byte() & 1) != 0) {
        const pj::sim::ReadRecording read = pj::sim::parseRecording(input.rest());
        PJ_FUZZ_CHECK(read.error.empty() != read.recording.exchanges.empty());
        if (read.error.empty()) {
            replayChecks(read.recording);
        }
        return 0;
    }

    StepClock clock;
    std::ostringstream text;
    pj::LineLog log(text, clock, {"fuzz", "/dev/null", 19200});
    struct Written {
        std::string frame;
        std::vector<std::string> arrivals;
        std::vector<std::int64_t> afterUs;
    };
    std::vector<Written> written;
    std::int64_t frameUs = 0;
    while (!input.empty()) {
        const std::uint8_t kind = input.byte() % 3;
        clock.pass(std::int64_t{input.byte()} * 1000 + input.byte());
        std::string bytes(input.take(input.byte()));
        if (kind == 0) {
            // The core writes one whole frame at a time, ended by its only carriage return.
            std::erase(bytes, '\r');
            bytes += '\r';
            log.sent(bytes);
            written.push_back({bytes, {}, {}});
            frameUs = clock.nowUs();
        } else if (kind == 1) {
            log.received(bytes, "");
            if (!written.empty() && !bytes.empty()) {
                written.back().arrivals.push_back(bytes);
                written.back().afterUs.push_back(clock.nowUs() - frameUs);
            }
        } else {
            log.portError(bytes);
        }
    }
    PJ_FUZZ_CHECK(log.good());

    const pj::sim::ReadRecording read = pj::sim::parseRecording(text.str());
    PJ_FUZZ_CHECK(read.error.empty() == !written.empty());
    PJ_FUZZ_CHECK(read.recording.exchanges.size() == written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const pj::sim::RecordedExchange& got = read.recording.exchanges[i];
        PJ_FUZZ_CHECK(got.frame == written[i].frame);
        PJ_FUZZ_CHECK(got.answer.size() == written[i].arrivals.size());
        for (std::size_t k = 0; k < got.answer.size(); ++k) {
            PJ_FUZZ_CHECK(got.answer[k].bytes == written[i].arrivals[k]);
            // Never sooner than it came, and late by less than a millisecond.
            PJ_FUZZ_CHECK(got.answer[k].due.count() * 1000 >= written[i].afterUs[k]);
            PJ_FUZZ_CHECK(got.answer[k].due.count() * 1000 < written[i].afterUs[k] + 1000);
        }
    }
    if (read.error.empty()) {
        replayChecks(read.recording);
    }
    return 0;
}
