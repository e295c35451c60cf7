// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "projector/commands.h"

namespace pj::ctl {

// One line of a command file that does something.
struct Step {
    enum class Kind { Send, Wait };
    int line = 0;  // counted from 1
    Kind kind = Kind::Send;
    std::string text;                  // Send: the command text, or a command's name
    int waitMs = 0;                    // Wait
    const Command* command = nullptr;  // Send: the command named, if a name was given
};

// The largest command file read: far beyond any night's schedule.
inline constexpr std::size_t kCommandFileMost = 1 << 20;

// A command file: one command a line, as `send` takes it, or "wait MS"; blank lines and lines
// beginning with "#" are passed over, and so are spaces around a line and a carriage return at
// its end. The whole file is checked before anything is sent: on a mistake, gives nothing and
// says "line N: what is wrong" in `error`.
std::optional<std::vector<Step>> parseCommandFile(std::string_view content, std::string& error);

}  // namespace pj::ctl
