#pragma once

#include <array>
#include <string>
#include <string_view>

namespace pj {

inline constexpr char kCarriageReturn = '\r';

// Every command travels as: address prefix (empty or four characters), the command text,
// one carriage return. Nothing else: no start character, length or checksum.
std::string buildFrame(std::string_view addressPrefix, std::string_view command);

// The projector address selector.
struct AddressOption {
    std::string_view control;
    std::string_view caption;
    std::string_view prefix;
};

inline constexpr std::array<AddressOption, 6> kAddressOptions{{
    {"Option3", "SINGLE", ""},
    {"Option4", "ALL", "AFFF"},
    {"Option5", "001", "A001"},
    {"Option6", "002", "A002"},
    {"Option7", "003", "A003"},
    {"Option8", "004", "A004"},
}};

const AddressOption* findAddressOption(std::string_view control);

}  // namespace pj
