// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include "core/control_id.h"

namespace pj {

// How a press-and-hold button times its repeats, reply windows and display holds.
enum class TimingClass { Fast, Slow, Select, Cursor };

struct HoldButton {
    ControlId control;
    std::uint8_t code;       // RepeatCode while it is held
    std::string_view name;   // the command's name by meaning, "zoom.in"
    std::string_view group;  // the part of the panel it belongs to
    std::string_view command;
    TimingClass timing;
    bool digitalZoom;  // its release leaves the cursor pad repeating fast
};

extern const std::array<HoldButton, 19> kHoldButtons;

const HoldButton* findHoldButton(ControlId control);
const HoldButton* findRepeatCode(std::uint8_t code);

// Periods a press sets, in milliseconds: Timer1 (repeat), Timer2 (reply window) and Timer4
// (display hold). The cursor pad leaves Timer1 alone and takes the other two from the
// cursor-pad mode.
struct ClassPeriods {
    TimingClass timing;
    int repeat;
    int replyWindow;
    int displayHold;
};

extern const std::array<ClassPeriods, 3> kClassPeriods;

struct PadModePeriods {
    std::uint8_t arrowPadMode;
    int replyWindow;
    int displayHold;
};

extern const std::array<PadModePeriods, 2> kPadModePeriods;

const ClassPeriods* findClassPeriods(TimingClass timing);
const PadModePeriods* findPadModePeriods(std::uint8_t arrowPadMode);

// What the release of a digital-zoom button leaves behind.
inline constexpr int kDigitalZoomReleaseRepeat = 5;
inline constexpr std::uint8_t kDigitalZoomReleasePadMode = 3;

}  // namespace pj
