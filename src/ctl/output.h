// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace pj::ctl {

// Says `message` on standard error in one line, "pjctl: " first, and gives `status`.
int complain(std::ostream& err, int status, std::string_view message);

// What was printed, flushed: output that cannot be written is a failure of the command, said
// before anything else is. Gives nothing when it was written.
std::optional<int> unwritten(std::ostream& out, std::ostream& err);

// `text` as JSON, null when there is none.
std::string jsonOptional(const std::optional<std::string>& text);

// One line of JSON: the command, the frame when one was sent, the answer and what the window
// made of it.
void printJson(std::ostream& out, std::string_view command, const std::string* frame,
               const std::optional<std::string>& reply, std::string_view echo,
               const std::optional<std::string>& readout);

}  // namespace pj::ctl
