// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "core/clock.h"
#include "core/timer.h"

namespace pj {

// Paces repeated frames by the line's own time. Every frame written keeps the line busy for
// its length in character times, counted from when the line was last free. A repeat that
// comes due while the line is still busy waits here, not in the operating system's or the
// adapter's buffers, and goes out the moment the line is free; a second repeat that comes due
// meanwhile is dropped. So at most one frame waits, the line stays full when the repeat
// outruns it, and the traffic ends with the frame on the wire when the repeat stops.
class LinePacer {
  public:
    // `timer` holds a waiting repeat back; it is the pacer's own, not a window control.
    LinePacer(Timer& timer, const Clock& clock);
    LinePacer(const LinePacer&) = delete;
    LinePacer& operator=(const LinePacer&) = delete;

    // The line's settings ("19200,N,8,1"), for the time a character takes.
    void setLineSettings(std::string_view settings);
    // `bytes` were handed to the line just now.
    void written(std::size_t bytes);

    // A repeat is due: `send` runs now when the line has room for it, or once the line is
    // free. Replaces any repeat that was waiting.
    void due(std::function<void()> send);
    // A waiting repeat is dropped.
    void cancel();

    // How long, in whole milliseconds rounded up, before another frame may go; 0 when it may
    // go now. A frame may go this slack before the line is free, so that timer granularity
    // does not leave the line idle between frames.
    int waitMs() const;
    static constexpr std::int64_t kSlackUs = 1000;

    void LinePacer_Timer();

  private:
    Timer& timer_;
    const Clock& clock_;
    std::int64_t characterUs_;
    std::int64_t freeAtUs_ = 0;
    std::function<void()> waiting_;
};

}  // namespace pj
