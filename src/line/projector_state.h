// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "status/queries.h"
#include "status/values.h"

namespace pj::line {

// What the line server knows of one projector, from the values of its answers to the status
// queries. A field stays empty until its query has been answered with a reply its decoder
// knows; an unanswered query leaves the field as it was.
struct ProjectorState {
    std::optional<OperatingState> operatingState;  // CR0
    std::optional<InputMode> input;                // CR1
    std::optional<LampHours> lampHours;            // CR3
    std::optional<Temperatures> temperatures;      // CR6
    std::optional<Lamps> lamps;                    // CR7
    std::optional<MuteAndSignal> mute;             // CRA
    // Whether the projector answered any query of its last round.
    bool responding = false;

    bool operator==(const ProjectorState&) const = default;
};

// The state as the retained JSON of PREFIX/NAME/P/state; an empty field is null:
//   {"power":"on","operating_state":"on","input":1,"lamp_hours":1234,
//    "lamps":[true,false],"lamp_mode":"dual",
//    "temperatures":{"s1":25.0,"s2":30.5,"s3":40.1,"s4":35.2},
//    "video_mute":false,"audio_mute":false,"signal":"present","responding":true}
// (the fields as status/value_json.h writes them).
std::string stateJson(const ProjectorState& state);

// The queries of one round, in the order they are sent: the polled rows of the status query
// table (CR0, CR1, CR3, CR6, CR7, CRA).
const std::vector<const StatusQuery*>& polledQueries();

// Puts the value of the answer of `query` (the bytes the line brought, up to the carriage
// return) into `state`; false when the answer says nothing the decoder knows (the state is
// untouched).
bool applyAnswer(const StatusQuery& query, std::string_view answer, ProjectorState& state);

}  // namespace pj::line
