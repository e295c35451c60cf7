// SPDX-License-Identifier: Apache-2.0
// The echo text of arbitrary bytes, checked against the per-character rule written out here
// on its own: a leading space, then one piece per character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "protocol/echo.h"

namespace {

bool printable(unsigned char c) {
    return c >= 32 && c <= 'z';
}

std::string pieceOf(unsigned char c) {
    switch (c) {
        case 6:
            return "ACK ";
        case 20:
            return "&";
        case 13:
            return "CR ";
        case 10:
            return "LF ";
        default:
            break;
    }
    if (printable(c)) {
        return {static_cast<char>(c), ' '};
    }
    return "? ";
}

// Counted apart from the pieces themselves, so that a piece of the wrong length shows.
std::size_t pieceLength(unsigned char c) {
    switch (c) {
        case 6:
            return 4;
        case 20:
            return 1;
        case 13:
        case 10:
            return 3;
        default:
            return 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string echo = pj::echoText(bytes);

    PJ_FUZZ_CHECK(!echo.empty() && echo.front() == ' ');

    std::size_t length = 1;
    bool allPrintable = true;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        length += pieceLength(u);
        allPrintable = allPrintable && printable(u);
    }
    PJ_FUZZ_CHECK(echo.size() == length);
    PJ_FUZZ_CHECK(echo.size() <= 1 + 4 * bytes.size());

    // Piece by piece, in order.
    std::size_t at = 1;
    for (const char c : bytes) {
        const std::string piece = pieceOf(static_cast<unsigned char>(c));
        PJ_FUZZ_CHECK(echo.compare(at, piece.size(), piece) == 0);
        at += piece.size();
    }
    PJ_FUZZ_CHECK(at == echo.size());

    // Nothing the echo shows is itself unprintable: a label never receives a control code.
    for (const char c : echo) {
        PJ_FUZZ_CHECK(printable(static_cast<unsigned char>(c)));
    }

    // Printable text shows as " c1 c2 ... cn ".
    if (allPrintable) {
        PJ_FUZZ_CHECK(echo.size() == 1 + 2 * bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            PJ_FUZZ_CHECK(echo[1 + 2 * i] == bytes[i]);
            PJ_FUZZ_CHECK(echo[2 + 2 * i] == ' ');
        }
    }

    // The echo of a buffer is the echo of its pieces joined: a reply that arrives in parts
    // shows the same as one that arrives whole.
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    const std::string head = pj::echoText(bytes.substr(0, split));
    const std::string tail = pj::echoText(bytes.substr(split));
    PJ_FUZZ_CHECK(echo == head + tail.substr(1));
    return 0;
}
