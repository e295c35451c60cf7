// SPDX-License-Identifier: Apache-2.0
#include "link/line_settings.h"

#include <charconv>

namespace pj {

namespace {

bool parseInt(std::string_view text, int& value) {
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::optional<LineParams> parseLineSettings(std::string_view settings) {
    std::string_view fields[4];
    std::size_t count = 0;
    for (;;) {
        if (count == 4) {
            return std::nullopt;  // more than four fields
        }
        const std::size_t comma = settings.find(',');
        fields[count++] = settings.substr(0, comma);
        if (comma == std::string_view::npos) {
            break;
        }
        settings.remove_prefix(comma + 1);
    }
    if (count != 4) {
        return std::nullopt;
    }
    LineParams params;
    if (!parseInt(fields[0], params.baud) || params.baud <= 0) {
        return std::nullopt;
    }
    if (fields[1].size() != 1 ||
        std::string_view("NEOMS").find(fields[1][0]) == std::string_view::npos) {
        return std::nullopt;
    }
    params.parity = fields[1][0];
    if (!parseInt(fields[2], params.dataBits) || params.dataBits < 5 || params.dataBits > 8) {
        return std::nullopt;
    }
    if (!parseInt(fields[3], params.stopBits) || (params.stopBits != 1 && params.stopBits != 2)) {
        return std::nullopt;
    }
    return params;
}

long long characterTimeUs(const LineParams& params) {
    const int bits = 1 + params.dataBits + (params.parity == 'N' ? 0 : 1) + params.stopBits;
    return (static_cast<long long>(bits) * 1'000'000 + params.baud - 1) / params.baud;
}

}  // namespace pj
