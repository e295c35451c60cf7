// SPDX-License-Identifier: Apache-2.0
#include "status/queries.h"

#include "status/decode.h"

namespace pj {

namespace {

// Fits a decoder that reads the echo alone to the shape of the query table.
template <std::optional<std::string> (*Decode)(std::string_view)>
std::optional<std::string> echoOnly(std::string_view echo, std::int16_t& /*pressureValue*/) {
    return Decode(echo);
}

}  // namespace

const std::array<StatusQuery, 9> kStatusQueries{{
    {"CR0", &echoOnly<decodeOperatingState>},
    {"CR1", &echoOnly<decodeInputMode>},
    {"CR4", &echoOnly<decodeOrientation>},
    {"CR3", &echoOnly<decodeLampHours>},
    {"CR6", &echoOnly<decodeTemperatures>},
    {"CRA", &echoOnly<decodeMuteAndSignal>},
    {"CR9", &echoOnly<decodeRawEcho>},
    {"CR PRESSURE", &decodePressure},
    {"CR7", &echoOnly<decodeLampMode>},
}};

}  // namespace pj
