// SPDX-License-Identifier: Apache-2.0
#include "ctl/output.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "ctl/options.h"
#include "link/line_log.h"
#include "status/value_json.h"

namespace pj::ctl {

int complain(std::ostream& err, int status, std::string_view message) {
    // Whatever of the user's text a message quotes, it stays one line.
    err << "pjctl: " << visible(message) << "\n";
    return status;
}

std::string jsonOptional(const std::optional<std::string>& text) {
    return text ? jsonString(*text) : std::string("null");
}

Json bytesJson(std::string_view bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

Json bytesOrNull(const std::optional<std::string>& bytes) {
    return bytes ? bytesJson(*bytes) : Json(nullptr);
}

void printJsonLine(std::ostream& out, const Json& json) {
    out << json.dump(-1, ' ', true) << "\n";
}

void printJson(std::ostream& out, std::string_view command, const std::string* frame,
               const std::optional<std::string>& reply, std::string_view echo,
               const std::optional<std::string>& readout, const StatusValue& value) {
    Json json;
    json["command"] = bytesJson(command);
    if (frame != nullptr) {
        json["frame"] = bytesJson(*frame);
    }
    json["reply"] = bytesOrNull(reply);
    json["echo"] = bytesJson(echo);
    json["readout"] = bytesOrNull(readout);
    addValueFields(json, value);
    printJsonLine(out, json);
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
