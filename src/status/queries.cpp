// SPDX-License-Identifier: Apache-2.0
#include "status/queries.h"

#include <algorithm>

#include "protocol/echo.h"
#include "status/decode.h"

namespace pj {

namespace {

// Fits a decoder that reads the echo alone to the shape of the query table.
template <std::optional<std::string> (*Decode)(std::string_view)>
std::optional<std::string> echoOnly(std::string_view echo, std::int16_t& /*pressureValue*/) {
    return Decode(echo);
}

StatusValue noValue(std::string_view /*reply*/) {
    return {};
}

}  // namespace

// clang-format off
const std::array<StatusQuery, 9> kStatusQueries{{
    {"status.operating",    "status",    "CR0",         &echoOnly<decodeOperatingState>, &operatingStateValue, true},
    {"status.input",        "mode",      "CR1",         &echoOnly<decodeInputMode>,      &inputModeValue,      true},
    {"status.lamp-hours",   "lamp-time", "CR3",         &echoOnly<decodeLampHours>,      &lampHoursValue,      true},
    {"status.orientation",  "setting",   "CR4",         &echoOnly<decodeOrientation>,    &orientationValue,    false},
    {"status.temperatures", "temp",      "CR6",         &echoOnly<decodeTemperatures>,   &temperaturesValue,   true},
    {"status.lamp-mode",    "lamp-mode", "CR7",         &echoOnly<decodeLampMode>,       &lampModeValue,       true},
    {"status.mute",         "mute",      "CRA",         &echoOnly<decodeMuteAndSignal>,  &muteAndSignalValue,  true},
    {"status.raw",          "raw",       "CR9",         &echoOnly<decodeRawEcho>,        &noValue,             false},
    {"status.pressure",     "pressure",  "CR PRESSURE", &decodePressure,                 &pressureHpaValue,    false},
}};
// clang-format on

const StatusQuery* findStatusQuery(std::string_view nameOrCommand) {
    const auto* it = std::find_if(kStatusQueries.begin(), kStatusQueries.end(), [&](const auto& q) {
        return q.name == nameOrCommand || q.shortName == nameOrCommand ||
               q.command == nameOrCommand;
    });
    return it == kStatusQueries.end() ? nullptr : it;
}

StatusReading readStatus(const StatusQuery& query, std::string_view reply) {
    std::int16_t pressure = 0;
    return {query.decode(echoText(reply), pressure), query.value(reply)};
}

}  // namespace pj
