// SPDX-License-Identifier: Apache-2.0
#include "line/projector_state.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "link/echo.h"
#include "link/line_log.h"
#include "status/decode.h"

namespace pj::line {

namespace {

// The decoder's text without its padding, each run of spaces made one.
std::string tidy(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == ' ') {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::string withoutSpaces(std::string_view text) {
    std::string out;
    std::copy_if(text.begin(), text.end(), std::back_inserter(out),
                 [](char c) { return c != ' '; });
    return out;
}

// The operating state's words, as the decoder gives them, in the one word of "power".
struct PowerRow {
    std::string_view operatingState;
    std::string_view power;
};

constexpr std::array<PowerRow, 13> kPowerRows{{
    {"Power ON", "on"},
    {"Stand by", "off"},
    {"Count down", "warming"},
    {"Cooling down", "cooling"},
    {"Power Fail", "fault"},
    {"Temperature Warning(Power ON)", "on"},
    {"NO Key input", "on"},
    {"Lamp OFF by PWR Management", "off"},
    {"Temperature Warning & cooling down", "cooling"},
    {"Lamp OFF & Tempereture Warning by PWR Management", "off"},
    {"Temperature Warning and recoverd", "off"},
    {"Cooling down (All Lamp FAIL)", "cooling"},
    {"Cooling down & sutandby (All Lamp FAIL)", "off"},
}};

bool applyPower(std::string_view text, ProjectorState& state) {
    const std::string words = tidy(text);
    for (const PowerRow& row : kPowerRows) {
        if (row.operatingState == words) {
            state.power = std::string(row.power);
            state.operatingState = words;
            return true;
        }
    }
    return false;
}

bool applyInput(std::string_view text, ProjectorState& state) {
    constexpr std::string_view kLead = "Input mode ";
    const std::string words = tidy(text);
    if (!words.starts_with(kLead)) {
        return false;
    }
    int input = 0;
    const char* first = words.data() + kLead.size();
    const char* last = words.data() + words.size();
    const auto [end, error] = std::from_chars(first, last, input);
    if (error != std::errc{} || end != last) {
        return false;
    }
    state.input = input;
    return true;
}

// The hours are the leading digits of the echo the decoder shows ("0 1 2 3 4 CR").
bool applyLampHours(std::string_view text, ProjectorState& state) {
    const std::string digits = withoutSpaces(text);
    long hours = 0;
    const char* first = digits.data();
    const auto [end, error] = std::from_chars(first, first + digits.size(), hours);
    if (error != std::errc{} || end == first || hours < 0) {
        return false;
    }
    state.lampHours = hours;
    return true;
}

// The decoder shows "S1=<reading> C  ,   S2= <reading> C ..." with each reading as its echo
// ("2 5 . 0"); a reading that is no number is left empty.
bool applyTemperatures(std::string_view text, ProjectorState& state) {
    bool any = false;
    for (std::size_t i = 0; i < state.temperatures.size(); ++i) {
        const std::string label = "S" + std::to_string(i + 1) + "=";
        const std::size_t at = text.find(label);
        std::optional<double> value;
        if (at != std::string_view::npos) {
            const std::size_t start = at + label.size();
            const std::size_t end = text.find(" C ", start);
            const std::string reading = withoutSpaces(
                text.substr(start, end == std::string_view::npos ? end : end - start));
            double parsed = 0;
            const char* first = reading.data();
            const char* last = first + reading.size();
            const auto [stop, error] = std::from_chars(first, last, parsed);
            if (error == std::errc{} && stop == last && first != last) {
                value = parsed;
                any = true;
            }
        }
        state.temperatures[i] = value;
    }
    return any;
}

template <auto Member>
bool applyText(std::string_view text, ProjectorState& state) {
    std::string words = tidy(text);
    if (words.empty()) {
        return false;
    }
    state.*Member = std::move(words);
    return true;
}

std::string jsonNumber(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc{} ? std::string(text, end) : "null";
}

template <typename T, typename Write>
std::string orNull(const std::optional<T>& value, Write write) {
    return value ? write(*value) : "null";
}

std::string text(const std::optional<std::string>& value) {
    return orNull(value, [](const std::string& v) { return jsonString(v); });
}

}  // namespace

const std::array<PolledQuery, 6> kPolledQueries{{
    {"CR0", decodeOperatingState, applyPower},
    {"CR1", decodeInputMode, applyInput},
    {"CR3", decodeLampHours, applyLampHours},
    {"CR6", decodeTemperatures, applyTemperatures},
    {"CR7", decodeLampMode, applyText<&ProjectorState::lampMode>},
    {"CRA", decodeMuteAndSignal, applyText<&ProjectorState::mute>},
}};

bool applyAnswer(const PolledQuery& query, std::string_view answer, ProjectorState& state) {
    const std::optional<std::string> decoded = query.decode(echoText(answer));
    if (!decoded) {
        return false;
    }
    ProjectorState updated = state;
    if (!query.apply(*decoded, updated)) {
        return false;
    }
    state = std::move(updated);
    return true;
}

std::string stateJson(const ProjectorState& state) {
    const auto number = [](auto v) { return jsonNumber(static_cast<double>(v)); };
    std::string out = "{\"power\":" + text(state.power);
    out += ",\"operating_state\":" + text(state.operatingState);
    out += ",\"input\":" + orNull(state.input, [](int v) { return std::to_string(v); });
    out += ",\"lamp_hours\":" + orNull(state.lampHours, [](long v) { return std::to_string(v); });
    out += ",\"lamp_mode\":" + text(state.lampMode);
    out += ",\"temperatures\":{";
    for (std::size_t i = 0; i < state.temperatures.size(); ++i) {
        out += i == 0 ? "\"s" : ",\"s";
        out += std::to_string(i + 1) + "\":" + orNull(state.temperatures[i], number);
    }
    out += "},\"mute\":" + text(state.mute);
    out += ",\"responding\":";
    out += state.responding ? "true" : "false";
    out += '}';
    return out;
}

}  // namespace pj::line
