// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <string>
#include <string_view>
#include "app/control_id.h"

namespace pj {

inline constexpr char kCarriageReturn = '\r';

// Every command travels as: address prefix (empty or four characters), the command text,
// one carriage return. Nothing else: no start character, length or checksum.
std::string buildFrame(std::string_view addressPrefix, std::string_view command);

// The projector address selector.
struct AddressOption {
    ControlId control;
    std::string_view caption;
    std::string_view prefix;
};

inline constexpr std::array<AddressOption, 6> kAddressOptions{{
    {ControlId::Option3, "SINGLE", ""},
    {ControlId::Option4, "ALL", "AFFF"},
    {ControlId::Option5, "001", "A001"},
    {ControlId::Option6, "002", "A002"},
    {ControlId::Option7, "003", "A003"},
    {ControlId::Option8, "004", "A004"},
}};

const AddressOption* findAddressOption(ControlId control);

}  // namespace pj
