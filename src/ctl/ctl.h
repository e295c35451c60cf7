// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/options.h"
#include "link/line_log.h"

namespace pj::ctl {

// What the window shows for an answer to a query: the RXD echo, and the STATUS readout, or
// nothing when the window would leave the readout as it was. The answer is taken as one
// arrival; an empty answer is no answer at all, shown as " X X X X".
struct Decoded {
    std::string echo;
    std::optional<std::string> readout;
    StatusValue value;  // the reply's value; empty for no reply
};

Decoded decodeReply(const StatusQuery& query, std::string_view reply);

// How pjctl writes bytes in JSON.
using pj::jsonString;

// The whole of pjctl: `args` are the arguments after the program name. Returns the exit
// status.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace pj::ctl
