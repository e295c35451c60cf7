// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "status/values.h"

namespace pj {

// Turns the echo text of a reply into the readout's new text; nothing keeps the readout.
// Only the pressure decoder touches `pressureValue`.
using StatusDecoder = std::optional<std::string> (*)(std::string_view echo,
                                                     std::int16_t& pressureValue);
// Reads the value of a reply from its bytes (up to and with its carriage return).
using ValueDecoder = StatusValue (*)(std::string_view reply);

// One status query: the one table of them, for the window's decoding, pjctl's names and
// pjline's poller.
struct StatusQuery {
    std::string_view name;       // by meaning, "status.operating" (see projector/commands.h)
    std::string_view shortName;  // pjctl's name for it, "status"
    std::string_view command;    // the command text, "CR0"
    StatusDecoder decode;        // the readout's text
    ValueDecoder value;          // the reply's value
    bool polled;                 // asked of each projector every round of pjline's poller
};

extern const std::array<StatusQuery, 9> kStatusQueries;

// A query by its name, its short name or its command text (exact case); nothing if unknown.
const StatusQuery* findStatusQuery(std::string_view nameOrCommand);

// What an answer to a query shows and says: the readout the window's decoding gives for the
// echo of `reply` (nothing when the window would leave its readout), and the reply's value.
struct StatusReading {
    std::optional<std::string> readout;
    StatusValue value;
};
StatusReading readStatus(const StatusQuery& query, std::string_view reply);

}  // namespace pj
