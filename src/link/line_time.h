#pragma once

#include <cstddef>
#include <cstdint>

namespace pj {

// When the line will have sent everything written to it: every frame keeps the line busy
// for its length in character times, counted from when the line was last free. Repeats are
// paced by it, so that they wait here rather than in the operating system's or the
// adapter's buffers.
class LineTime {
  public:
    void written(std::size_t bytes, std::int64_t characterUs, std::int64_t nowUs);

    // How long, in whole milliseconds rounded up, before another frame may go; 0 when it may
    // go now. A frame may go this slack before the line is free, so that timer granularity
    // does not leave the line idle between frames.
    int waitMs(std::int64_t nowUs) const;

    static constexpr std::int64_t kSlackUs = 1000;

  private:
    std::int64_t freeAtUs_ = 0;
};

}  // namespace pj
