// SPDX-License-Identifier: Apache-2.0
#include "protocol/echo.h"

namespace pj {

namespace {

constexpr unsigned char kAck = 6;
constexpr unsigned char kCode20 = 20;

void appendPiece(std::string& out, unsigned char c) {
    if (c == kAck) {
        out += "ACK ";
    } else if (c == kCode20) {
        out += '&';
    } else if (c == '\r') {
        out += "CR ";
    } else if (c == '\n') {
        out += "LF ";
    } else if (c < 32 || c > 'z') {
        out += "? ";
    } else {
        out += static_cast<char>(c);
        out += ' ';
    }
}

}  // namespace

std::string echoText(std::string_view bytes) {
    std::string out;
    out.reserve(1 + bytes.size() * 2);
    out += ' ';
    for (const char c : bytes) {
        appendPiece(out, static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace pj
