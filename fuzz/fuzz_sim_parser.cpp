// SPDX-License-Identifier: Apache-2.0
// The simulator's frame parser, Projector::feed, on any bytes in any pieces.
//
// Input: byte 0 sets the projector up (its address, silence, split size), byte 1 the reply
// delay, byte 2 the length of the noise sent ahead of every answer and byte 3 the warm-up
// and cool-down; the noise bytes follow. Then, until the input ends: a step of time in
// milliseconds, a piece length and the piece.
//
// Checked: the frames recorded are exactly those a carriage return ends, line feeds dropped,
// none longer than the limit, and the overflows are counted; every frame is answered at most
// once, with a bounded answer; letter case changes nothing the projector does; and a line
// that never sends a carriage return does not make the projector hold more memory.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "sim/projector.h"

namespace {

using pj::sim::kMaxFrame;
using pj::sim::Millis;
using pj::sim::Projector;

// The longest answer the projector gives to a frame, noise aside: the temperatures are 24
// characters and a carriage return; the information text is checked apart.
constexpr std::size_t kMostAnswer = 32;

// What the line has carried, cut into frames the way the header of sim/projector.h says.
struct LineModel {
    std::vector<std::string> frames;  // ended by a carriage return, within the limit
    std::size_t overflows = 0;
    std::string current;  // since the last carriage return, line feeds dropped
    bool overflowing = false;

    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            if (c == '\n') {
                continue;
            }
            if (c == '\r') {
                if (!overflowing) {
                    frames.push_back(current);
                }
                current.clear();
                overflowing = false;
                continue;
            }
            if (overflowing) {
                continue;
            }
            if (current.size() == kMaxFrame) {
                ++overflows;
                overflowing = true;
                current.clear();
                continue;
            }
            current.push_back(c);
        }
    }
};

// Whether a frame is to be answered: by the addressing rules, when the projector speaks.
bool answered(std::string_view frame, const pj::sim::ProjectorSettings& settings) {
    if (settings.silent) {
        return false;
    }
    std::string upper(frame);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    std::string_view command = upper;
    if (command.size() >= 4 && command.substr(0, 4) == "AFFF") {
        return false;
    }
    if (command.size() >= 4 && command[0] == 'A' && command.substr(1, 2) == "00" &&
        command[3] >= '1' && command[3] <= '4') {
        if (command[3] - '0' != settings.address) {
            return false;
        }
        command.remove_prefix(4);
    }
    return !command.empty();
}

std::string upperCase(std::string_view bytes) {
    std::string out(bytes);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::size_t queuedBytes(const Projector& projector) {
    std::size_t total = 0;
    for (const auto& chunk : projector.pending()) {
        total += chunk.bytes.size();
    }
    return total;
}

bool sameQueue(const Projector& a, const Projector& b) {
    return std::equal(
        a.pending().begin(), a.pending().end(), b.pending().begin(), b.pending().end(),
        [](const auto& x, const auto& y) { return x.due == y.due && x.bytes == y.bytes; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    const std::uint8_t setup = in.byte();
    pj::sim::ProjectorSettings settings;
    settings.address = 1 + (setup & 3);
    settings.silent = (setup & 4) != 0;
    settings.splitSize = (setup >> 3) & 7;
    settings.replyDelay = Millis{in.byte() * 2};
    const std::size_t noiseLength = in.byte() % 4;
    const std::uint8_t timing = in.byte();
    settings.warmUp = Millis{(timing & 3) * 100};
    settings.coolDown = Millis{((timing >> 2) & 3) * 100};
    settings.noise = in.take(noiseLength);

    Projector projector(settings);
    Projector upper(settings);  // fed the same bytes in upper case
    std::size_t expectedAnswers = 0;
    projector.setFrameObserver([&](const pj::sim::ReceivedFrame& frame) {
        expectedAnswers += answered(frame.text, settings) ? 1 : 0;
    });
    const std::size_t mostAnswer =
        settings.noise.size() + std::max(kMostAnswer, projector.state().info.size() + 1);

    LineModel line;
    Millis now{0};
    std::size_t polled = 0;
    while (!in.empty()) {
        now += Millis{in.byte()};
        const std::string_view piece = in.take(in.byte());

        const std::size_t answersBefore = expectedAnswers;
        const std::size_t queuedBefore = queuedBytes(projector);
        const std::size_t chunksBefore = projector.pending().size();
        projector.feed(piece, now);
        upper.feed(upperCase(piece), now);
        line.feed(piece);

        // Exactly the frames the line carried, in order.
        PJ_FUZZ_CHECK(projector.frameCount() == line.frames.size());
        PJ_FUZZ_CHECK(projector.frames().size() == line.frames.size());
        PJ_FUZZ_CHECK(projector.overflowCount() == line.overflows);
        for (std::size_t i = 0; i < line.frames.size(); ++i) {
            const auto& frame = projector.frames()[i];
            PJ_FUZZ_CHECK(frame.text == line.frames[i]);
            PJ_FUZZ_CHECK(frame.text.size() <= kMaxFrame);
            PJ_FUZZ_CHECK(frame.text.find_first_of("\r\n") == std::string::npos);
            PJ_FUZZ_CHECK(frame.at <= now);
        }

        // One bounded answer per answered frame, the noise in front of each.
        const std::size_t answers = expectedAnswers - answersBefore;
        const std::size_t queued = queuedBytes(projector) - queuedBefore;
        PJ_FUZZ_CHECK(queued >= answers * (settings.noise.size() + 1));
        PJ_FUZZ_CHECK(queued <= answers * mostAnswer);
        if (settings.splitSize == 0) {
            PJ_FUZZ_CHECK(projector.pending().size() == chunksBefore + answers);
        } else {
            const std::size_t piecesPerAnswer =
                (mostAnswer + settings.splitSize - 1) / settings.splitSize;
            PJ_FUZZ_CHECK(projector.pending().size() <= chunksBefore + answers * piecesPerAnswer);
        }
        for (const auto& chunk : projector.pending()) {
            PJ_FUZZ_CHECK(!chunk.bytes.empty());
            if (settings.splitSize == 0) {
                PJ_FUZZ_CHECK(chunk.bytes.compare(0, settings.noise.size(), settings.noise) == 0);
                const char last = chunk.bytes.back();
                PJ_FUZZ_CHECK(last == '\r' || last == pj::sim::kAck);
            }
        }

        // Letter case does not matter anywhere in a frame.
        PJ_FUZZ_CHECK(upper.state() == projector.state());
        PJ_FUZZ_CHECK(sameQueue(upper, projector));
        PJ_FUZZ_CHECK(upper.overflowCount() == projector.overflowCount());

        // Answers go out in the order they were queued and none is lost.
        const std::size_t waiting = queuedBytes(projector);
        const std::string out = projector.pollOutput(now);
        upper.pollOutput(now);
        PJ_FUZZ_CHECK(out.size() + queuedBytes(projector) == waiting);
        for (const auto& chunk : projector.pending()) {
            PJ_FUZZ_CHECK(chunk.due > now);
        }
        polled += out.size();
    }
    PJ_FUZZ_CHECK(polled <= expectedAnswers * mostAnswer);

    // A line that never ends a frame: whatever it sends, the projector holds no more than
    // one frame's worth of it.
    std::string endless(reinterpret_cast<const char*>(data), size);
    endless.erase(std::remove(endless.begin(), endless.end(), '\r'), endless.end());
    if (!endless.empty()) {
        projector.feed("\r", now);
        const std::size_t framesBefore = projector.frameCount();
        const std::size_t held = __sanitizer_get_current_allocated_bytes();
        for (std::size_t fed = 0; fed < 16 * kMaxFrame * 4; fed += endless.size()) {
            projector.feed(endless, now);
        }
        PJ_FUZZ_CHECK(projector.frameCount() == framesBefore);
        PJ_FUZZ_CHECK(__sanitizer_get_current_allocated_bytes() <= held + 4 * kMaxFrame);
    }
    return 0;
}
