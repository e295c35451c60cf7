// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>

#include "ctl/options.h"

namespace pj::ctl {

// The commands that go on the line (send, query, hold, status, run), on a session of the
// panel's core opened for `request`. Reads standard input for "run -". Returns the exit status.
int onTheLine(const Request& request, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace pj::ctl
