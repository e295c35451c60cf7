// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pj {

// Every control of the window, by the name it keeps in the layout table; the window itself
// ("Form1") first. The list is written once: the enumeration and the names both come from it.
// clang-format off
#define PJ_CONTROL_IDS(X) \
    X(Form1) X(Frame1) X(Label1) X(Command17) X(Command18) X(Frame2) X(Label2) X(Command27)     \
    X(Command28) X(Command29) X(Command53) X(Frame6) X(Label7) X(Command23) X(Command24)        \
    X(Frame10) X(Label20) X(Command59) X(Command60) X(Command61) X(Command62) X(Frame4)         \
    X(Label5) X(Command21) X(Command22) X(Frame7) X(Label8) X(Command25) X(Command26)           \
    X(Frame5) X(Label6) X(Command31) X(Command32) X(Frame12) X(Label25) X(Command88)            \
    X(Command89) X(Command5) X(Command9) X(Command6) X(Command8) X(Command7) X(Label13)         \
    X(Command15) X(Command35) X(Label14) X(Command36) X(Command37) X(Label17) X(Command48)      \
    X(Command49) X(Label18) X(Command50) X(Command91) X(Command90) X(Command51) X(Command13)    \
    X(Command30) X(Command14) X(Command3) X(Command16) X(Label19) X(Command56) X(Command57)     \
    X(Command58) X(Command4) X(Command10) X(Command11) X(Command39) X(Command40) X(Command41)   \
    X(Command42) X(Command33) X(Image1) X(Frame8) X(Option1) X(Option2) X(Frame13) X(Option9)   \
    X(Option10) X(Frame9) X(Label9) X(Label11) X(Label10) X(Label12) X(Label23) X(Label22)      \
    X(Command34) X(Command44) X(Command45) X(Command46) X(Command47) X(Command54) X(Command55)  \
    X(Frame11) X(Label21) X(Option3) X(Option4) X(Option5) X(Option6) X(Option7) X(Option8)     \
    X(Frame14) X(Label15) X(Command63) X(Command64) X(Command65) X(Command66) X(Command67)      \
    X(Command68) X(Label16) X(Command71) X(Command72) X(Command73) X(Command74) X(Command75)    \
    X(Command76) X(Label24) X(Command79) X(Command80) X(Command81) X(Command82) X(Command83)    \
    X(Command84) X(Frame16) X(Label27) X(Command97) X(Command98) X(Frame15) X(Text1)            \
    X(Label26) X(Command95) X(Command96)
// clang-format on

enum class ControlId : std::uint8_t {
#define PJ_CONTROL_ID_ENUM(name) name,
    PJ_CONTROL_IDS(PJ_CONTROL_ID_ENUM)
#undef PJ_CONTROL_ID_ENUM
};

inline constexpr std::size_t kControlCount = 0
#define PJ_CONTROL_ID_COUNT(name) +1
    PJ_CONTROL_IDS(PJ_CONTROL_ID_COUNT)
#undef PJ_CONTROL_ID_COUNT
    ;

// The control's name, as the layout table and the window's diagnostics spell it.
std::string_view controlName(ControlId id);
// The control a name stands for, or nothing for a name the window does not have.
std::optional<ControlId> controlFromName(std::string_view name);

}  // namespace pj
