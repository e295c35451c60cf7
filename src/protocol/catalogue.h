// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include "core/control_id.h"

namespace pj {

// How a one-shot button sends: the side effects that come with its command.
enum class SendFamily {
    Plain,
    PictureMode,  // longer reply window and display hold, set before the send
    InputSelect,  // longer still: the projector takes seconds to switch inputs
    AdjustMode,   // after the send, the cursor pad's repeat timing for adjustment menus
};

struct FamilyRule {
    SendFamily family;
    std::optional<int> replyWindow;   // Timer2, set before the send
    std::optional<int> displayHold;   // Timer4, set before the send
    std::optional<int> repeatPeriod;  // Timer1, set after the send
    std::optional<int> arrowPadMode;  // ArrowPadMode, set after the send
};

inline constexpr std::array<FamilyRule, 4> kFamilyRules{{
    {SendFamily::Plain, {}, {}, {}, {}},
    {SendFamily::PictureMode, 2000, 2500, {}, {}},
    {SendFamily::InputSelect, 5000, 5500, {}, {}},
    {SendFamily::AdjustMode, {}, {}, 200, 1},
}};

const FamilyRule& familyRule(SendFamily family);

// One button that sends one fixed command per click.
struct CatalogueEntry {
    ControlId control;
    std::string_view caption;
    std::string_view group;
    std::string_view name;  // the command's name by meaning, "power.on" (see projector/commands.h)
    std::string_view command;
    SendFamily family;
};

inline constexpr std::size_t kCatalogueSize = 50;
extern const std::array<CatalogueEntry, kCatalogueSize> kCatalogue;

const CatalogueEntry* findCatalogueEntry(ControlId control);

// A status query button of the panel: its control, its caption and the name of the query it
// sends (see status/queries.h).
struct QueryButton {
    ControlId control;
    std::string_view caption;
    std::string_view query;
};

inline constexpr std::array<QueryButton, 6> kQueryButtons{{
    {ControlId::Command44, "STATUS", "status.operating"},
    {ControlId::Command45, "MODE", "status.input"},
    {ControlId::Command46, "L-TIME", "status.lamp-hours"},
    {ControlId::Command47, "SETTING", "status.orientation"},
    {ControlId::Command54, "TEMP", "status.temperatures"},
    {ControlId::Command55, "L-MODE", "status.lamp-mode"},
}};
const CatalogueEntry* findCatalogueEntry(std::string_view name);

}  // namespace pj
