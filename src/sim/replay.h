// SPDX-License-Identifier: Apache-2.0
#pragma once

// A recorded projector played back: answers each frame as the projector on the recording did,
// with its timing, so that a line log taken in the field serves as a projector in a test.
//
// The recording is a line log: JSON Lines, one object per line. Objects with "dir":"out" are
// frames the panel wrote, each one whole frame ending in a carriage return; the "dir":"in"
// objects after one (up to the next "out") are its answer as it arrived, piece by piece.
// "hex" holds the bytes ("30 30 0D"), "ms" the time in milliseconds since the log began.
// Every other object and field (the header, "ascii", port events) is passed over, and so are
// "in" records before the first "out".
//
// Playing back: a frame received is matched to the next recorded frame with the same bytes
// that has not answered yet, looking on from the last match and then from the beginning.
// Each piece of its answer goes out as long after the frame's carriage return as it came
// after the frame on the recording, rounded up to the millisecond, never sooner. A frame with
// no match is not answered.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/far_end.h"
#include "sim/projector.h"

namespace pj::sim {

struct RecordedExchange {
    std::string frame;             // as written, with its carriage return
    std::vector<Outgoing> answer;  // each piece due this long after the frame
};

struct Recording {
    std::vector<RecordedExchange> exchanges;
};

// A recording read from text or a file; `error` says what is wrong with it, naming the line
// for a malformed one, and is empty when it was read.
struct ReadRecording {
    Recording recording;
    std::string error;
};

ReadRecording parseRecording(std::string_view text);
// The longest recording read: a long session's log is far smaller.
constexpr std::size_t kLongestRecording = 64 * 1024 * 1024;

// Reads a regular file of at most kLongestRecording bytes.
ReadRecording loadRecording(const std::string& path);

class Replay final : public FarEnd {
  public:
    explicit Replay(Recording recording, bool recordFrames = true);

    void feed(std::string_view bytes, Millis now) override;
    void advance(Millis) override {}
    std::string pollOutput(Millis now) override;
    std::optional<Millis> nextDue() const override;

    const std::vector<ReceivedFrame>& frames() const override { return frames_; }
    std::size_t frameCount() const override { return frameCount_; }
    void setFrameObserver(std::function<void(const ReceivedFrame&)> observer) override {
        observer_ = std::move(observer);
    }
    // Called with every frame (without its carriage return) that the recording has no
    // answer for.
    void setUnmatchedObserver(std::function<void(std::string_view frame)> observer) {
        unmatched_ = std::move(observer);
    }

    // How many recorded frames have been answered.
    std::size_t usedCount() const;

  private:
    void handleFrame(std::string frame, Millis now);
    std::optional<std::size_t> match(std::string_view frame) const;

    Recording recording_;
    std::vector<bool> used_;
    std::size_t from_ = 0;     // where the search for the next match starts
    std::size_t longest_ = 0;  // the longest recorded frame: anything longer has no match
    bool recordFrames_;
    std::string partial_;
    bool discarding_ = false;
    std::vector<ReceivedFrame> frames_;
    std::size_t frameCount_ = 0;
    std::vector<Outgoing> pending_;
    std::function<void(const ReceivedFrame&)> observer_;
    std::function<void(std::string_view)> unmatched_;
};

}  // namespace pj::sim
