// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include "app/control_id.h"

namespace pj {

// A status query button of the panel: its control, its caption and the query it sends.
struct QueryButton {
    ControlId control;
    std::string_view caption;
    std::string_view command;
};

inline constexpr std::array<QueryButton, 6> kQueryButtons{{
    {ControlId::Command44, "STATUS", "CR0"},
    {ControlId::Command45, "MODE", "CR1"},
    {ControlId::Command46, "L-TIME", "CR3"},
    {ControlId::Command47, "SETTING", "CR4"},
    {ControlId::Command54, "TEMP", "CR6"},
    {ControlId::Command55, "L-MODE", "CR7"},
}};

// Turns the echo text of a reply into the readout's new text; nothing keeps the readout.
// Only the pressure decoder touches `pressureValue`.
using StatusDecoder = std::optional<std::string> (*)(std::string_view echo,
                                                     std::int16_t& pressureValue);

// A query whose reply is decoded, with its decoder.
struct StatusQuery {
    std::string_view command;
    StatusDecoder decode;
};

// The decodable queries, in the order the decoding tries them.
extern const std::array<StatusQuery, 9> kStatusQueries;

}  // namespace pj
