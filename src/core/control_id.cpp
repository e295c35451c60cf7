// SPDX-License-Identifier: Apache-2.0
#include "core/control_id.h"

#include <algorithm>
#include <array>

namespace pj {

namespace {

constexpr std::array<std::string_view, kControlCount> kNames{
#define PJ_CONTROL_ID_NAME(name) #name,
    PJ_CONTROL_IDS(PJ_CONTROL_ID_NAME)
#undef PJ_CONTROL_ID_NAME
};

}  // namespace

std::string_view controlName(ControlId id) {
    const auto index = static_cast<std::size_t>(id);
    return index < kNames.size() ? kNames[index] : std::string_view("?");
}

std::optional<ControlId> controlFromName(std::string_view name) {
    const auto* it = std::find(kNames.begin(), kNames.end(), name);
    if (it == kNames.end()) {
        return std::nullopt;
    }
    return static_cast<ControlId>(it - kNames.begin());
}

}  // namespace pj
