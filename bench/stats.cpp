// SPDX-License-Identifier: Apache-2.0
#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace pj::bench {

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const auto index = static_cast<std::size_t>(std::max(rank, 1.0)) - 1;
    return values[std::min(index, values.size() - 1)];
}

double median(const std::vector<double>& values) {
    if (values.empty()) {
        return std::nan("");
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

}  // namespace pj::bench
