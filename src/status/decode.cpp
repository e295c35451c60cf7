// SPDX-License-Identifier: Apache-2.0
#include "status/decode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

#include "status/queries.h"

namespace pj {

namespace {

// One row of a code table: the spaced key as the echo shows it, the readout text, and the
// value it stands for.
template <class Value>
struct CodeRow {
    std::string_view key;
    std::string_view readout;
    Value value;
};

// Two code characters show as four characters of echo (" 8 0"), one as two (" 3").
constexpr std::size_t kTwoCodeKey = 4;
constexpr std::size_t kOneCodeKey = 2;

using OS = OperatingState;
// clang-format off
constexpr std::array<CodeRow<OS>, 13> kOperatingStates{{
    {" 0 0", " Power ON",                                          OS::On},
    {" 8 0", " Stand by",                                          OS::Standby},
    {" 4 0", " Count down",                                        OS::Warming},
    {" 2 0", " Cooling down",                                      OS::Cooling},
    {" 1 0", " Power Fail",                                        OS::PowerFailure},
    {" 0 8", " Temperature Warning(Power ON)",                     OS::TemperatureWarning},
    {" 0 2", " NO Key input ",                                     OS::NoKeyInput},
    {" 0 4", " Lamp OFF by PWR Management",                        OS::PowerManagementLampOff},
    {" 2 8", " Temperature Warning & cooling down",                OS::TemperatureWarningCooling},
    {" 2 4", " Lamp OFF & Tempereture Warning by PWR Management",  OS::PowerManagementTemperatureWarning},
    {" 8 8", " Temperature Warning and recoverd",                  OS::TemperatureWarningRecovered},
    {" 2 1", " Cooling down (All Lamp FAIL)",                      OS::LampFailureCooling},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)",           OS::LampFailureStandby},
}};

constexpr std::array<CodeRow<InputMode>, 5> kInputModes{{
    {" 1", " Input mode 1", {1}},
    {" 2", " Input mode 2", {2}},
    {" 3", " Input mode 3", {3}},
    {" 4", " Input mode 4", {4}},
    {" 5", " Input mode 5", {5}},
}};

constexpr std::array<CodeRow<Orientation>, 4> kOrientations{{
    {" 1 1", " Normally",                          Orientation::Normal},
    {" 1 0", " Top/Bottom reversal",               Orientation::TopBottom},
    {" 0 1", " Left/Right reversal",               Orientation::LeftRight},
    {" 0 0", " Top/Bottom , Left/Right reversal",  Orientation::TopBottomLeftRight},
}};

constexpr std::array<CodeRow<MuteAndSignal>, 6> kMuteAndSignal{{
    {" 0 0", " Video & Audio mute OFF",  {false, false, Signal::Present}},
    {" 0 1", " Video mute ON",           {true, false, Signal::Present}},
    {" 0 2", " Audio mute ON",           {false, true, Signal::Present}},
    {" 0 3", " Video & Audio mute ON",   {true, true, Signal::Present}},
    {" 8 0", " No signal",               {std::nullopt, std::nullopt, Signal::None}},
    {" F F", " Stand by",                {std::nullopt, std::nullopt, Signal::Standby}},
}};

constexpr std::array<CodeRow<Lamps>, 8> kLampModes{{
    {" 0 0", " All OFF : 2 Lamp mode",            {{false, false}, LampMode::Dual}},
    {" 0 1", " No1 ON  : 2 Lamp mode",            {{true, false},  LampMode::Dual}},
    {" 0 2", " No2 ON  : 2 Lamp mode",            {{false, true},  LampMode::Dual}},
    {" 0 3", " No1,2 ON  : 2 Lamp mode",          {{true, true},   LampMode::Dual}},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)",   {{false, false}, LampMode::Lamp1}},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)",   {{true, false},  LampMode::Lamp1}},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)",   {{false, false}, LampMode::Lamp2}},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)",   {{false, true},  LampMode::Lamp2}},
}};
// clang-format on

// The lamp-hours readout shows this much of the echo.
constexpr std::size_t kLampHoursLength = 38;

// The four temperature readings: each shown after its label, cut from the echo.
struct TemperatureCut {
    std::string_view label;
    std::size_t position;  // counted from 1
    std::size_t count;
};

constexpr std::array<TemperatureCut, 4> kTemperatureCuts{{
    {"  S1=", 1, 10},
    {" C  ,   S2= ", 15, 8},
    {" C  ,   S3= ", 28, 8},
    {" C  ,   S4= ", 41, 8},
}};

// The first `count` characters of the echo, or all of it when it is shorter.
std::string_view head(std::string_view echo, std::size_t count) {
    return echo.substr(0, count);
}

// Up to `count` characters from `position`, counted from 1; empty past the end.
std::string_view piece(std::string_view echo, std::size_t position, std::size_t count) {
    const std::size_t start = position - 1;
    if (start >= echo.size()) {
        return {};
    }
    return echo.substr(start, count);
}

template <class Value, std::size_t N>
std::optional<std::string> lookup(const std::array<CodeRow<Value>, N>& table, std::size_t keyLength,
                                  std::string_view echo) {
    const std::string_view key = head(echo, keyLength);
    for (const CodeRow<Value>& row : table) {
        if (row.key == key) {
            return std::string(row.readout);
        }
    }
    return std::nullopt;
}

// The row whose code, its key without the echo's spaces, the reply begins with.
template <class Value, std::size_t N>
StatusValue valueOf(const std::array<CodeRow<Value>, N>& table, std::string_view reply) {
    for (const CodeRow<Value>& row : table) {
        std::string code;
        for (const char c : row.key) {
            if (c != ' ') {
                code += c;
            }
        }
        if (reply.substr(0, code.size()) == code) {
            return row.value;
        }
    }
    return {};
}

// The bytes from `first` to `last` (counted from 1) without the spaces around them, as a
// decimal number; nothing when they are none.
std::optional<double> numberAt(std::string_view reply, std::size_t first, std::size_t last) {
    if (first > reply.size()) {
        return std::nullopt;
    }
    std::string_view text = reply.substr(first - 1, last - first + 1);
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    const bool decimal = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
    });
    if (!decimal) {
        return std::nullopt;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Rounds to the nearest integer, halves to the even neighbour, whatever the floating-point
// rounding mode in force.
double roundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1.0;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::optional<std::int16_t> toInt16(long value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

}  // namespace

std::optional<std::string> decodeStatus(std::string_view lastCommand,
                                        std::string_view addressPrefix, std::string_view echo,
                                        std::int16_t& pressureValue) {
    for (const StatusQuery& query : kStatusQueries) {
        std::string frame(addressPrefix);
        frame += query.command;
        frame += '\r';
        if (lastCommand == frame) {
            return query.decode(echo, pressureValue);
        }
    }
    return std::nullopt;
}

std::optional<std::string> decodeOperatingState(std::string_view echo) {
    return lookup(kOperatingStates, kTwoCodeKey, echo);
}

std::optional<std::string> decodeInputMode(std::string_view echo) {
    return lookup(kInputModes, kOneCodeKey, echo);
}

std::optional<std::string> decodeOrientation(std::string_view echo) {
    return lookup(kOrientations, kTwoCodeKey, echo);
}

std::optional<std::string> decodeLampHours(std::string_view echo) {
    std::string text(head(echo, kLampHoursLength));
    text += " Hour Use";
    return text;
}

std::optional<std::string> decodeTemperatures(std::string_view echo) {
    std::string text;
    for (const TemperatureCut& cut : kTemperatureCuts) {
        text += cut.label;
        text += piece(echo, cut.position, cut.count);
    }
    text += " C ";
    return text;
}

std::optional<std::string> decodeMuteAndSignal(std::string_view echo) {
    return lookup(kMuteAndSignal, kTwoCodeKey, echo);
}

std::optional<std::string> decodeRawEcho(std::string_view echo) {
    return std::string(echo);
}

std::optional<std::string> decodeLampMode(std::string_view echo) {
    return lookup(kLampModes, kTwoCodeKey, echo);
}

std::optional<std::string> decodePressure(std::string_view echo, std::int16_t& pressureValue) {
    const std::optional<std::int16_t> reading = readPressure(echo);
    if (!reading) {
        return std::nullopt;
    }
    const std::optional<std::int16_t> hpa = pressureHpa(*reading);
    if (!hpa) {
        return std::nullopt;
    }
    pressureValue = *hpa;
    return std::to_string(*hpa) + " hPa";
}

StatusValue operatingStateValue(std::string_view reply) {
    return valueOf(kOperatingStates, reply);
}

StatusValue inputModeValue(std::string_view reply) {
    return valueOf(kInputModes, reply);
}

StatusValue orientationValue(std::string_view reply) {
    return valueOf(kOrientations, reply);
}

StatusValue lampHoursValue(std::string_view reply) {
    constexpr std::size_t kMostDigits = 9;
    std::size_t digits = 0;
    while (digits < reply.size() && isDigit(reply[digits])) {
        ++digits;
    }
    if (digits == 0 || digits > kMostDigits) {
        return {};
    }
    long hours = 0;
    std::from_chars(reply.data(), reply.data() + digits, hours);
    return LampHours{hours};
}

StatusValue temperaturesValue(std::string_view reply) {
    // The bytes under each of the readout's cuts: an echo character at position p (from 1)
    // that is a byte is the byte p / 2 (from 1).
    static constexpr std::array<std::pair<std::size_t, std::size_t>, 4> kBytes{{
        {1, 5},
        {8, 11},
        {14, 17},
        {21, 24},
    }};
    Temperatures value;
    bool any = false;
    for (std::size_t i = 0; i < kBytes.size(); ++i) {
        value.celsius[i] = numberAt(reply, kBytes[i].first, kBytes[i].second);
        any = any || value.celsius[i].has_value();
    }
    return any ? StatusValue{value} : StatusValue{};
}

StatusValue muteAndSignalValue(std::string_view reply) {
    return valueOf(kMuteAndSignal, reply);
}

StatusValue lampModeValue(std::string_view reply) {
    return valueOf(kLampModes, reply);
}

StatusValue pressureHpaValue(std::string_view reply) {
    const std::optional<std::int16_t> reading = readPressure(reply);
    const std::optional<std::int16_t> hpa = reading ? pressureHpa(*reading) : std::nullopt;
    return hpa ? StatusValue{Pressure{*hpa}} : StatusValue{};
}

std::optional<std::int16_t> readPressure(std::string_view echo) {
    std::string text;
    text.reserve(echo.size());
    for (const char c : echo) {
        if (!isSkipped(c)) {
            text += c;
        }
    }

    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t wholeStart = at;
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    std::string_view whole = std::string_view(text).substr(wholeStart, at - wholeStart);
    std::string_view fraction;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fractionStart = ++at;
        while (at < text.size() && isDigit(text[at])) {
            ++at;
        }
        fraction = std::string_view(text).substr(fractionStart, at - fractionStart);
    }
    // A sign or a point without a digit is no number: the reading is 0.
    if (whole.empty() && fraction.empty()) {
        return std::int16_t{0};
    }

    // Worked on the digits themselves, so that any length of number is read exactly.
    while (!whole.empty() && whole.front() == '0') {
        whole.remove_prefix(1);
    }
    constexpr std::size_t kMostWholeDigits = 5;  // more digits cannot fit in 16 bits
    if (whole.size() > kMostWholeDigits) {
        return std::nullopt;
    }
    long magnitude = 0;
    for (const char c : whole) {
        magnitude = magnitude * 10 + (c - '0');
    }
    if (!fraction.empty()) {
        const char first = fraction.front();
        const bool beyondHalf = fraction.substr(1).find_first_not_of('0') != std::string_view::npos;
        if (first > '5' || (first == '5' && (beyondHalf || magnitude % 2 != 0))) {
            ++magnitude;
        }
    }
    return toInt16(negative ? -magnitude : magnitude);
}

std::optional<std::int16_t> pressureHpa(std::int16_t reading) {
    const std::optional<std::int16_t> product = toInt16(long{reading} * 5);
    if (!product) {
        return std::nullopt;
    }
    const double hpa = (static_cast<double>(*product) / 1024.0 - 0.204) / 0.00459 + 150.0;
    return toInt16(static_cast<long>(roundHalfEven(hpa)));
}

}  // namespace pj
