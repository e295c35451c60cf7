// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "status/values.h"

namespace pj::ctl {

// Says `message` on standard error in one line, "pjctl: " first, and gives `status`.
int complain(std::ostream& err, int status, std::string_view message);

// What was printed, flushed: output that cannot be written is a failure of the command, said
// before anything else is. Gives nothing when it was written.
std::optional<int> unwritten(std::ostream& out, std::ostream& err);

// `text` as JSON, null when there is none (the doctor's writer).
std::string jsonOptional(const std::optional<std::string>& text);

using Json = nlohmann::ordered_json;

// Bytes as a JSON string: each byte the code point of the same number (U+0000 to U+00FF).
Json bytesJson(std::string_view bytes);
// The same, null when there is none.
Json bytesOrNull(const std::optional<std::string>& bytes);
// One line of JSON, every character outside printable ASCII escaped.
void printJsonLine(std::ostream& out, const Json& json);

// One line of JSON: the command, the frame when one was sent, the answer, what the window made
// of it and, for a status query, the reply's values.
void printJson(std::ostream& out, std::string_view command, const std::string* frame,
               const std::optional<std::string>& reply, std::string_view echo,
               const std::optional<std::string>& readout, const StatusValue& value = {});

}  // namespace pj::ctl
