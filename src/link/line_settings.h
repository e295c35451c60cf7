// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string_view>

namespace pj {

// The panel's two speeds, as the serial control takes them.
inline constexpr std::string_view kSettings19200 = "19200,N,8,1";
inline constexpr std::string_view kSettings9600 = "9600,N,8,1";

// Line settings in the serial control's text form, e.g. "19200,N,8,1".
struct LineParams {
    int baud = 0;
    char parity = 'N';  // N, E, O, M or S
    int dataBits = 8;
    int stopBits = 1;
};

std::optional<LineParams> parseLineSettings(std::string_view settings);

// The time one character takes on the wire (start bit, data, parity, stop bits), in
// microseconds.
long long characterTimeUs(const LineParams& params);

}  // namespace pj
