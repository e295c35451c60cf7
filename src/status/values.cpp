// SPDX-License-Identifier: Apache-2.0
#include "status/values.h"

#include <utility>

namespace pj {

namespace {

template <class Enum, std::size_t N>
std::string_view lookup(const std::array<std::pair<Enum, std::string_view>, N>& table, Enum e) {
    for (const auto& [value, text] : table) {
        if (value == e) {
            return text;
        }
    }
    return {};
}

using OS = OperatingState;

// clang-format off
constexpr std::array<std::pair<OS, std::string_view>, 13> kStateWords{{
    {OS::On,                                "on"},
    {OS::Standby,                           "standby"},
    {OS::Warming,                           "warming"},
    {OS::Cooling,                           "cooling"},
    {OS::PowerFailure,                      "power_failure"},
    {OS::TemperatureWarning,                "temperature_warning"},
    {OS::NoKeyInput,                        "no_key_input"},
    {OS::PowerManagementLampOff,            "power_management_lamp_off"},
    {OS::TemperatureWarningCooling,         "temperature_warning_cooling"},
    {OS::PowerManagementTemperatureWarning, "power_management_temperature_warning"},
    {OS::TemperatureWarningRecovered,       "temperature_warning_recovered"},
    {OS::LampFailureCooling,                "lamp_failure_cooling"},
    {OS::LampFailureStandby,                "lamp_failure_standby"},
}};

constexpr std::array<std::pair<OS, Power>, 13> kPowerOf{{
    {OS::On,                                Power::On},
    {OS::Standby,                           Power::Off},
    {OS::Warming,                           Power::Warming},
    {OS::Cooling,                           Power::Cooling},
    {OS::PowerFailure,                      Power::Fault},
    {OS::TemperatureWarning,                Power::On},
    {OS::NoKeyInput,                        Power::On},
    {OS::PowerManagementLampOff,            Power::Off},
    {OS::TemperatureWarningCooling,         Power::Cooling},
    {OS::PowerManagementTemperatureWarning, Power::Off},
    {OS::TemperatureWarningRecovered,       Power::Off},
    {OS::LampFailureCooling,                Power::Cooling},
    {OS::LampFailureStandby,                Power::Off},
}};
// clang-format on

constexpr std::array<std::pair<Power, std::string_view>, 5> kPowerWords{{
    {Power::On, "on"},
    {Power::Off, "off"},
    {Power::Warming, "warming"},
    {Power::Cooling, "cooling"},
    {Power::Fault, "fault"},
}};

constexpr std::array<std::pair<Orientation, std::string_view>, 4> kOrientationWords{{
    {Orientation::Normal, "normal"},
    {Orientation::TopBottom, "top_bottom"},
    {Orientation::LeftRight, "left_right"},
    {Orientation::TopBottomLeftRight, "top_bottom_left_right"},
}};

constexpr std::array<std::pair<LampMode, std::string_view>, 3> kLampModeWords{{
    {LampMode::Dual, "dual"},
    {LampMode::Lamp1, "lamp1"},
    {LampMode::Lamp2, "lamp2"},
}};

constexpr std::array<std::pair<Signal, std::string_view>, 3> kSignalWords{{
    {Signal::Present, "present"},
    {Signal::None, "none"},
    {Signal::Standby, "standby"},
}};

}  // namespace

Power powerOf(OperatingState state) {
    for (const auto& [from, power] : kPowerOf) {
        if (from == state) {
            return power;
        }
    }
    return Power::Off;
}

std::string_view word(OperatingState state) {
    return lookup(kStateWords, state);
}
std::string_view word(Power power) {
    return lookup(kPowerWords, power);
}
std::string_view word(Orientation orientation) {
    return lookup(kOrientationWords, orientation);
}
std::string_view word(LampMode mode) {
    return lookup(kLampModeWords, mode);
}
std::string_view word(Signal signal) {
    return lookup(kSignalWords, signal);
}

}  // namespace pj
