// SPDX-License-Identifier: Apache-2.0
#include "protocol/hold.h"

#include <algorithm>

namespace pj {

namespace {
constexpr TimingClass Fast = TimingClass::Fast;
constexpr TimingClass Slow = TimingClass::Slow;
constexpr TimingClass Select = TimingClass::Select;
constexpr TimingClass Cursor = TimingClass::Cursor;

template <class Table, class Pred>
auto* findIn(const Table& table, Pred pred) {
    const auto* it = std::find_if(table.begin(), table.end(), pred);
    return it == table.end() ? nullptr : it;
}
}  // namespace

// clang-format off
const std::array<HoldButton, 19> kHoldButtons{{
    {ControlId::Command5,  3,  "cursor.up",        "cursor pad",   "C3C", Cursor, false},  // cursor pad up
    {ControlId::Command7,  4,  "cursor.down",      "cursor pad",   "C3D", Cursor, false},  // cursor pad down
    {ControlId::Command9,  5,  "cursor.left",      "cursor pad",   "C3B", Cursor, false},  // cursor pad left
    {ControlId::Command8,  6,  "cursor.right",     "cursor pad",   "C3A", Cursor, false},  // cursor pad right
    {ControlId::Command15, 7,  "zoom.in",          "zoom",         "C47", Fast,   false},  // zoom +
    {ControlId::Command35, 8,  "zoom.out",         "zoom",         "C46", Fast,   false},  // zoom -
    {ControlId::Command36, 9,  "focus.plus",       "focus",        "C4B", Fast,   false},  // focus +
    {ControlId::Command37, 10, "focus.minus",      "focus",        "C4A", Fast,   false},  // focus -
    {ControlId::Command6,  13, "cursor.select",    "cursor pad",   "C3F", Select, false},  // SELECT
    {ControlId::Command48, 17, "digital-zoom.in",  "digital zoom", "C30", Slow,   true},   // digital zoom +
    {ControlId::Command49, 18, "digital-zoom.out", "digital zoom", "C31", Slow,   true},   // digital zoom -
    {ControlId::Command50, 19, "keystone.up",      "keystone",     "C8E", Slow,   false},  // keystone up
    {ControlId::Command51, 20, "keystone.down",    "keystone",     "C8F", Slow,   false},  // keystone down
    {ControlId::Command59, 21, "lens-shift.up",    "LENS SHIFT",   "C5D", Fast,   false},  // lens shift up
    {ControlId::Command62, 22, "lens-shift.down",  "LENS SHIFT",   "C5E", Fast,   false},  // lens shift down
    {ControlId::Command60, 23, "lens-shift.left",  "LENS SHIFT",   "C5F", Fast,   false},  // lens shift left
    {ControlId::Command61, 24, "lens-shift.right", "LENS SHIFT",   "C60", Fast,   false},  // lens shift right
    {ControlId::Command90, 25, "keystone.right",   "keystone",     "C90", Slow,   false},  // keystone right
    {ControlId::Command91, 26, "keystone.left",    "keystone",     "C91", Slow,   false},  // keystone left
}};

const std::array<ClassPeriods, 3> kClassPeriods{{
    {Fast,   105, 100, 100},
    {Slow,   250, 200, 245},
    {Select, 500, 200, 245},
}};

const std::array<PadModePeriods, 2> kPadModePeriods{{
    {1, 150, 190},
    {3, 5,   5},
}};
// clang-format on

const HoldButton* findHoldButton(ControlId control) {
    return findIn(kHoldButtons, [&](const HoldButton& b) { return b.control == control; });
}

const HoldButton* findRepeatCode(std::uint8_t code) {
    return findIn(kHoldButtons, [&](const HoldButton& b) { return b.code == code; });
}

const ClassPeriods* findClassPeriods(TimingClass timing) {
    return findIn(kClassPeriods, [&](const ClassPeriods& c) { return c.timing == timing; });
}

const PadModePeriods* findPadModePeriods(std::uint8_t arrowPadMode) {
    return findIn(kPadModePeriods,
                  [&](const PadModePeriods& p) { return p.arrowPadMode == arrowPadMode; });
}

}  // namespace pj
