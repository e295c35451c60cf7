// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <variant>

namespace pj {

// What a status reply says, as values rather than the readout's words. Each decoder's code
// table gives both for a row: the readout text the window shows and the value here.

// CR0: the operating state, one per row of its code table.
enum class OperatingState {
    On,
    Standby,
    Warming,  // counting down to on
    Cooling,
    PowerFailure,
    TemperatureWarning,  // on, with a temperature warning
    NoKeyInput,
    PowerManagementLampOff,
    TemperatureWarningCooling,
    PowerManagementTemperatureWarning,
    TemperatureWarningRecovered,
    LampFailureCooling,
    LampFailureStandby,
};

// The operating state in one word: whether the projector is on, off or on its way.
enum class Power { On, Off, Warming, Cooling, Fault };

// CR1: the input selected, 1 to 5.
struct InputMode {
    int number = 0;
    bool operator==(const InputMode&) const = default;
};

// CR3: the lamp's hours of use.
struct LampHours {
    long hours = 0;
    bool operator==(const LampHours&) const = default;
};

// CR4: how the image is turned.
enum class Orientation { Normal, TopBottom, LeftRight, TopBottomLeftRight };

// CR6: the four temperature readings S1 to S4 in degrees Celsius; a reading that is no
// number is empty.
struct Temperatures {
    std::array<std::optional<double>, 4> celsius;
    bool operator==(const Temperatures&) const = default;
};

// CR7: which lamps are lit, and the lamp mode.
enum class LampMode { Dual, Lamp1, Lamp2 };
struct Lamps {
    std::array<bool, 2> lit{};
    LampMode mode = LampMode::Dual;
    bool operator==(const Lamps&) const = default;
};

// CRA: video and audio mute, and the signal. With no signal, or in standby, the mutes are not
// told.
enum class Signal { Present, None, Standby };
struct MuteAndSignal {
    std::optional<bool> video;
    std::optional<bool> audio;
    Signal signal = Signal::Present;
    bool operator==(const MuteAndSignal&) const = default;
};

// CR PRESSURE: the air pressure in hPa.
struct Pressure {
    int hpa = 0;
    bool operator==(const Pressure&) const = default;
};

// One reply's value; empty when the reply says nothing the decoder knows (or the query, CR9,
// has no value but its text).
using StatusValue = std::variant<std::monostate, OperatingState, InputMode, LampHours, Orientation,
                                 Temperatures, Lamps, MuteAndSignal, Pressure>;

Power powerOf(OperatingState state);

// The words the JSON outputs use for the enumerations.
std::string_view word(OperatingState state);
std::string_view word(Power power);
std::string_view word(Orientation orientation);
std::string_view word(LampMode mode);
std::string_view word(Signal signal);

}  // namespace pj
