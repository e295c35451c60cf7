#include "link/line_time.h"

#include <algorithm>

namespace pj {

void LineTime::written(std::size_t bytes, std::int64_t characterUs, std::int64_t nowUs) {
    freeAtUs_ = std::max(freeAtUs_, nowUs) + static_cast<std::int64_t>(bytes) * characterUs;
}

int LineTime::waitMs(std::int64_t nowUs) const {
    const std::int64_t busyUs = freeAtUs_ - nowUs;
    if (busyUs <= kSlackUs) {
        return 0;
    }
    return static_cast<int>((busyUs - kSlackUs + 999) / 1000);
}

}  // namespace pj
