// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <nlohmann/json.hpp>

#include "status/values.h"

namespace pj {

// Puts the fields of `value` into the JSON object `out`, the same fields wherever a program
// writes a reply's value (pjctl --json, pjline's state):
//   CR0          "power": "on"|"off"|"warming"|"cooling"|"fault", "operating_state": word
//   CR1          "input": 1..5
//   CR3          "lamp_hours": number
//   CR4          "orientation": "normal"|"top_bottom"|"left_right"|"top_bottom_left_right"
//   CR6          "temperatures": {"s1": number|null, ... "s4"}
//   CR7          "lamps": [bool, bool], "lamp_mode": "dual"|"lamp1"|"lamp2"
//   CRA          "video_mute": bool|null, "audio_mute": bool|null,
//                "signal": "present"|"none"|"standby"
//   CR PRESSURE  "pressure_hpa": number
// An empty value adds nothing.
void addValueFields(nlohmann::ordered_json& out, const StatusValue& value);

}  // namespace pj
