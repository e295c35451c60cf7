#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/options.h"

namespace pj::ctl {

// What the window shows for an answer to a query: the RXD echo, and the STATUS readout, or
// nothing when the window would leave the readout as it was. The answer is taken as one
// arrival; an empty answer is no answer at all, shown as " X X X X".
struct Decoded {
    std::string echo;
    std::optional<std::string> readout;
};

Decoded decodeReply(const NamedQuery& query, std::string_view reply);

// `bytes` as a JSON string, each byte the code point of the same number (U+0000 to U+00FF).
std::string jsonString(std::string_view bytes);

// The whole of pjctl: `args` are the arguments after the program name. Returns the exit
// status.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace pj::ctl
