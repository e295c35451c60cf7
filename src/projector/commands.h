// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pj {

// Every command the panel can send, by a name that says what it does: the one-shot buttons'
// ("power.on", "input.2.rgb", "picture.cinema"), the press-and-hold buttons' ("zoom.in",
// "keystone.up") and the status queries ("status.operating", "status.lamp-hours"). Each name
// stands in its own row of the table that holds the command's text and send rules (the
// catalogue, the hold table, the query table); this is their index.
enum class CommandKind { OneShot, Hold, Query };

struct Command {
    std::string_view name;
    std::string_view text;   // what goes on the line between the address and the return
    std::string_view group;  // the part of the panel it belongs to
    CommandKind kind;
    int replyWindowMs;  // how long the window waits for its answer after its button (a
                        // query without a button: after it is typed into the entry)
};

// In the panel's order: the one-shot buttons, the hold buttons, the status queries.
std::span<const Command> commands();
const Command* findCommand(std::string_view name);
// Up to `most` known names nearest to `name` (by edit distance), nearest first.
std::vector<std::string_view> nearestCommandNames(std::string_view name, std::size_t most = 3);
// Whether `text` has the shape of a name (lower-case words joined by dots) rather than of a
// command text, which is upper-case.
bool looksLikeCommandName(std::string_view text);

std::string_view word(CommandKind kind);

}  // namespace pj
