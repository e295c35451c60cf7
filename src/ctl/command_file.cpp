// SPDX-License-Identifier: Apache-2.0
#include "ctl/command_file.h"

#include <algorithm>
#include <charconv>

#include "protocol/frame.h"

namespace pj::ctl {

namespace {

constexpr std::string_view kBlank = " \t";
constexpr std::string_view kWait = "wait";
constexpr int kLongestWaitMs = 3'600'000;

std::string_view trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(kBlank);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(kBlank) - begin + 1);
}

// "wait 500" gives 500; "wait" with anything but a number of milliseconds gives 0, a
// mistake; a line that is no wait gives nothing.
std::optional<int> waitOf(std::string_view line) {
    if (line.substr(0, kWait.size()) != kWait ||
        (line.size() > kWait.size() && kBlank.find(line[kWait.size()]) == std::string_view::npos)) {
        return std::nullopt;
    }
    const std::string_view number = trimmed(line.substr(kWait.size()));
    int ms = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), ms);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size() || ms < 1 ||
        ms > kLongestWaitMs) {
        return 0;
    }
    return ms;
}

}  // namespace

std::optional<std::vector<Step>> parseCommandFile(std::string_view content, std::string& error) {
    std::vector<Step> steps;
    int number = 0;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(number) + ": " + what;
            return std::nullopt;
        };
        if (const std::optional<int> ms = waitOf(line)) {
            if (*ms == 0) {
                return fail("wait takes 1 to " + std::to_string(kLongestWaitMs) + " milliseconds");
            }
            steps.push_back({number, Step::Kind::Wait, {}, *ms});
            continue;
        }
        if (!std::all_of(line.begin(), line.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x20 &&
                       static_cast<unsigned char>(c) < 0x7F;
            })) {
            return fail("a command may contain printable ASCII characters only");
        }
        if (line.size() > kManualMostLength) {
            return fail("a command may be at most " + std::to_string(kManualMostLength) +
                        " characters");
        }
        const Command* command = nullptr;
        if (looksLikeCommandName(line)) {
            command = findCommand(line);
            if (command == nullptr) {
                return fail("unknown command name \"" + std::string(line) + "\": did you mean " +
                            std::string(nearestCommandNames(line).front()) + "?");
            }
        }
        steps.push_back({number, Step::Kind::Send, std::string(line), 0, command});
    }
    if (steps.empty()) {
        error = "no command in the file";
        return std::nullopt;
    }
    return steps;
}

}  // namespace pj::ctl
