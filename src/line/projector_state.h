// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace pj::line {

// What the line server knows of one projector, from its answers to the status queries. A
// field stays empty until its query has been answered with a reply its decoder knows; an
// unanswered query leaves the field as it was.
struct ProjectorState {
    // CR0, the operating state in one word: "on" (lamps lit), "warming" (counting down to
    // on), "cooling" (cooling down), "off" (standby, power-on is taken) or "fault" (power
    // failure).
    std::optional<std::string> power;
    // CR0, the operating state as the decoder words it: "Power ON", "Cooling down", ...
    std::optional<std::string> operatingState;
    // CR1, the input selected, 1..5.
    std::optional<int> input;
    // CR3, the lamp's hours of use.
    std::optional<long> lampHours;
    // CR7, which lamps are lit and the lamp mode: "No1 ON : 2 Lamp mode", ...
    std::optional<std::string> lampMode;
    // CR6, the four temperature readings S1..S4 in degrees Celsius.
    std::array<std::optional<double>, 4> temperatures;
    // CRA, video/audio mute and signal: "Video mute ON", "No signal", "Stand by", ...
    std::optional<std::string> mute;
    // Whether the projector answered any query of its last round.
    bool responding = false;

    bool operator==(const ProjectorState&) const = default;
};

// The state as the retained JSON of PREFIX/NAME/P/state; an empty field is null:
//   {"power":"on","operating_state":"Power ON","input":1,"lamp_hours":1234,
//    "lamp_mode":"No1 ON : 2 Lamp mode",
//    "temperatures":{"s1":25,"s2":30.5,"s3":40.1,"s4":35.2},
//    "mute":"Video & Audio mute OFF","responding":true}
std::string stateJson(const ProjectorState& state);

// One status query the poller sends, and how its answer goes into the state.
struct PolledQuery {
    std::string_view command;
    // The existing status decoder of this query: the echo text of the answer in, the
    // readout's text out.
    std::optional<std::string> (*decode)(std::string_view echo);
    // Puts the decoder's text into the state; false when the text says nothing usable.
    bool (*apply)(std::string_view text, ProjectorState& state);
};

// The queries of one round, in the order they are sent: CR0, CR1, CR3, CR6, CR7, CRA.
extern const std::array<PolledQuery, 6> kPolledQueries;

// Puts the answer of `query` (the bytes the line brought, up to the carriage return) into
// `state`; false when the answer's decoding gives nothing usable (the state is untouched).
bool applyAnswer(const PolledQuery& query, std::string_view answer, ProjectorState& state);

}  // namespace pj::line
