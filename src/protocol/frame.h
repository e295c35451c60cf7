// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include "core/control_id.h"

namespace pj {

inline constexpr char kCarriageReturn = '\r';

// The longest command text the command entry, a command file or a broker may send; longer
// text is refused, never cut.
inline constexpr std::size_t kManualMostLength = 1024;

// Every command travels as: address prefix (empty or four characters), the command text,
// one carriage return. Nothing else: no start character, length or checksum.
std::string buildFrame(std::string_view addressPrefix, std::string_view command);

// Projector addresses as numbers: none (the one projector on the line, spoken to without an
// address), every projector at once, or one of 1 to 4.
inline constexpr int kNoAddress = 0;
inline constexpr int kEveryAddress = -1;

// The one table of addresses: the panel's selector button, its caption, the prefix a frame
// carries, and the address's name and number for programs.
struct AddressOption {
    ControlId control;
    std::string_view caption;
    std::string_view prefix;
    std::string_view name;  // "single", "all", "1" to "4"
    int number;
};

inline constexpr std::array<AddressOption, 6> kAddressOptions{{
    {ControlId::Option3, "SINGLE", "", "single", kNoAddress},
    {ControlId::Option4, "ALL", "AFFF", "all", kEveryAddress},
    {ControlId::Option5, "001", "A001", "1", 1},
    {ControlId::Option6, "002", "A002", "2", 2},
    {ControlId::Option7, "003", "A003", "3", 3},
    {ControlId::Option8, "004", "A004", "4", 4},
}};

const AddressOption* findAddressOption(ControlId control);
// By number or by name; nothing for another.
const AddressOption* findAddress(int number);
const AddressOption* findAddress(std::string_view name);

}  // namespace pj
