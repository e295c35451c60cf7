// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "status/values.h"

namespace pj {

// Decoding of status replies into the text of the status readout `Label22`.
//
// Every decoder reads the echo text of the received buffer (what `Label12` shows: a leading
// space, then each received character followed by a space, "CR " for a carriage return),
// never the raw bytes. A decoder gives the readout's new text, or nothing when the readout
// is to keep the text it has.

// Chooses the decoder by `LastCommand`: the first of the decodable queries whose frame,
// built with the current `AddressPrefix`, equals `lastCommand` exactly. Gives nothing when
// no query matches or its decoder leaves the readout alone. Only the pressure decoder
// writes `pressureValue`, and only when it gives a text.
std::optional<std::string> decodeStatus(std::string_view lastCommand,
                                        std::string_view addressPrefix, std::string_view echo,
                                        std::int16_t& pressureValue);

// "CR0": operating state, keyed by the first 4 characters of the echo.
std::optional<std::string> decodeOperatingState(std::string_view echo);
// "CR1": input mode, keyed by the first 2 characters of the echo.
std::optional<std::string> decodeInputMode(std::string_view echo);
// "CR4": image orientation, keyed by the first 4 characters of the echo.
std::optional<std::string> decodeOrientation(std::string_view echo);
// "CR3": lamp hours, the first 38 characters of the echo followed by " Hour Use".
std::optional<std::string> decodeLampHours(std::string_view echo);
// "CR6": the four temperature readings S1 to S4, cut from fixed positions of the echo.
std::optional<std::string> decodeTemperatures(std::string_view echo);
// "CRA": video/audio mute and signal state, keyed by the first 4 characters of the echo.
std::optional<std::string> decodeMuteAndSignal(std::string_view echo);
// "CR9": the echo itself.
std::optional<std::string> decodeRawEcho(std::string_view echo);
// "CR7": lamp on/off state and lamp mode, keyed by the first 4 characters of the echo.
std::optional<std::string> decodeLampMode(std::string_view echo);

// "CR PRESSURE": the reading converted to hPa, stored in `pressureValue` and shown as
// its decimal text followed by " hPa". Gives nothing, and leaves `pressureValue` as it
// was, when the reading is outside the range the conversion is defined for.
std::optional<std::string> decodePressure(std::string_view echo, std::int16_t& pressureValue);

// The values of the replies, read from the reply's bytes, never from the readout's text. A
// code table's row gives the readout and the value alike: the value's row is the one whose
// code (its key without the echo's spaces) the reply begins with, the row the readout's key
// finds in the echo. So a value and a readout agree wherever the echo is plain; where the echo
// is not (a carriage return shows as "CR "), the value follows the bytes.
// "CR0": the row of the first two bytes.
StatusValue operatingStateValue(std::string_view reply);
// "CR1": the row of the first byte, '1' to '5' (the readout, too, compares one character).
StatusValue inputModeValue(std::string_view reply);
// "CR4": the row of the first two bytes.
StatusValue orientationValue(std::string_view reply);
// "CR3": the decimal digits the reply begins with (1 to 9 of them), as a number; the readout
// shows them as the spaced echo.
StatusValue lampHoursValue(std::string_view reply);
// "CR6": the bytes the readout's cuts show, 1-5, 8-11, 14-17 and 21-24 counted from 1, each a
// decimal number after any spaces around it is taken away, else empty. Nothing when none is.
StatusValue temperaturesValue(std::string_view reply);
// "CRA": the row of the first two bytes.
StatusValue muteAndSignalValue(std::string_view reply);
// "CR7": the row of the first two bytes.
StatusValue lampModeValue(std::string_view reply);
// "CR PRESSURE": the reading of the reply's bytes (as readPressure) in hPa, as its readout.
StatusValue pressureHpaValue(std::string_view reply);

// The pressure reading of an echo: spaces, tabs and line feeds are skipped, then the
// longest leading decimal number (optional sign, digits, optional point and fraction; ".6"
// and "5." count as numbers) is taken and rounded to the nearest integer, halves to the even
// neighbour. An echo that does not begin with a number reads 0. Nothing when the rounded value
// leaves -32768..32767.
std::optional<std::int16_t> readPressure(std::string_view echo);

// A pressure reading converted to hPa, rounded halves to even. Nothing when five times the
// reading leaves the 16-bit range, that is for readings outside -6553..6553.
std::optional<std::int16_t> pressureHpa(std::int16_t reading);

}  // namespace pj
