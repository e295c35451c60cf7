// SPDX-License-Identifier: Apache-2.0
#include "ctl/output.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "ctl/options.h"
#include "link/line_log.h"

namespace pj::ctl {

int complain(std::ostream& err, int status, std::string_view message) {
    // Whatever of the user's text a message quotes, it stays one line.
    err << "pjctl: " << visible(message) << "\n";
    return status;
}

std::string jsonOptional(const std::optional<std::string>& text) {
    return text ? jsonString(*text) : std::string("null");
}

void printJson(std::ostream& out, std::string_view command, const std::string* frame,
               const std::optional<std::string>& reply, std::string_view echo,
               const std::optional<std::string>& readout) {
    out << "{\"command\":" << jsonString(command);
    if (frame != nullptr) {
        out << ",\"frame\":" << jsonString(*frame);
    }
    out << ",\"reply\":" << jsonOptional(reply) << ",\"echo\":" << jsonString(echo)
        << ",\"readout\":" << jsonOptional(readout) << "}\n";
}

std::optional<int> unwritten(std::ostream& out, std::ostream& err) {
    // A long text may have failed as it was written, before the flush: the reason is then
    // the one the failed write left.
    if (!out.fail()) {
        errno = 0;
    }
    out.flush();
    if (!out.fail()) {
        return std::nullopt;
    }
    const int why = errno;
    return complain(err, kExitFailure,
                    "cannot write the output: " +
                        std::string(why != 0 ? std::strerror(why) : "the write failed"));
}

}  // namespace pj::ctl
