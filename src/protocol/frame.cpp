// SPDX-License-Identifier: Apache-2.0
#include "protocol/frame.h"

#include <algorithm>

namespace pj {

std::string buildFrame(std::string_view addressPrefix, std::string_view command) {
    std::string frame;
    frame.reserve(addressPrefix.size() + command.size() + 1);
    frame.append(addressPrefix);
    frame.append(command);
    frame.push_back(kCarriageReturn);
    return frame;
}

const AddressOption* findAddressOption(ControlId control) {
    const auto* it = std::find_if(kAddressOptions.begin(), kAddressOptions.end(),
                                  [&](const AddressOption& o) { return o.control == control; });
    return it == kAddressOptions.end() ? nullptr : it;
}

const AddressOption* findAddress(int number) {
    for (const AddressOption& option : kAddressOptions) {
        if (option.number == number) {
            return &option;
        }
    }
    return nullptr;
}

const AddressOption* findAddress(std::string_view name) {
    for (const AddressOption& option : kAddressOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace pj
