// SPDX-License-Identifier: Apache-2.0
#include "status/decode.h"

#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "status/queries.h"

namespace pj {

namespace {

// One row of a code table: the spaced key as the echo shows it, and the readout text.
struct CodeRow {
    std::string_view key;
    std::string_view readout;
};

// Two code characters show as four characters of echo (" 8 0"), one as two (" 3").
constexpr std::size_t kTwoCodeKey = 4;
constexpr std::size_t kOneCodeKey = 2;

constexpr std::array<CodeRow, 13> kOperatingStates{{
    {" 0 0", " Power ON"},
    {" 8 0", " Stand by"},
    {" 4 0", " Count down"},
    {" 2 0", " Cooling down"},
    {" 1 0", " Power Fail"},
    {" 0 8", " Temperature Warning(Power ON)"},
    {" 0 2", " NO Key input "},
    {" 0 4", " Lamp OFF by PWR Management"},
    {" 2 8", " Temperature Warning & cooling down"},
    {" 2 4", " Lamp OFF & Tempereture Warning by PWR Management"},
    {" 8 8", " Temperature Warning and recoverd"},
    {" 2 1", " Cooling down (All Lamp FAIL)"},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)"},
}};

constexpr std::array<CodeRow, 5> kInputModes{{
    {" 1", " Input mode 1"},
    {" 2", " Input mode 2"},
    {" 3", " Input mode 3"},
    {" 4", " Input mode 4"},
    {" 5", " Input mode 5"},
}};

constexpr std::array<CodeRow, 4> kOrientations{{
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
}};

constexpr std::array<CodeRow, 6> kMuteAndSignal{{
    {" 0 0", " Video & Audio mute OFF"},
    {" 0 1", " Video mute ON"},
    {" 0 2", " Audio mute ON"},
    {" 0 3", " Video & Audio mute ON"},
    {" 8 0", " No signal"},
    {" F F", " Stand by"},
}};

constexpr std::array<CodeRow, 8> kLampModes{{
    {" 0 0", " All OFF : 2 Lamp mode"},
    {" 0 1", " No1 ON  : 2 Lamp mode"},
    {" 0 2", " No2 ON  : 2 Lamp mode"},
    {" 0 3", " No1,2 ON  : 2 Lamp mode"},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)"},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)"},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)"},
}};

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

std::optional<std::string> lookup(std::span<const CodeRow> table, std::size_t keyLength,
                                  std::string_view echo) {
    const std::string_view key = head(echo, keyLength);
    for (const CodeRow& row : table) {
        if (row.key == key) {
            return std::string(row.readout);
        }
    }
    return std::nullopt;
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
