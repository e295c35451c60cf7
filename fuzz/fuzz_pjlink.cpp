// SPDX-License-Identifier: Apache-2.0
// pjline's PJLink face (line/pjlink.h) under any client: lines cut into reads of any size, with
// or without a password, answered by a simulated projector.
//
// The first byte: bit 0 asks for a password ("pw"), bit 1 makes the projector silent. The
// rest is the client's bytes, cut into reads whose sizes its own bytes give.
// Whatever the session writes must be the greeting first, then whole answer lines, each
// "%" + class + four letters or digits + "=" + result + CR, each the header of a line the
// client sent, never more answers than lines; or "PJLINK ERRA" with the connection closed and
// nothing after. Every line the parser reads as a command must give back its text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "line/pjlink.h"
#include "sim/projector.h"

namespace {

namespace pjlink = pj::line::pjlink;

bool headerChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    const std::uint8_t mode = in.byte();
    const std::string bytes(in.take(size));

    // The parser alone, on each line of the input.
    for (std::size_t start = 0; start <= bytes.size();) {
        const std::size_t end = std::min(bytes.find('\r', start), bytes.size());
        const std::string_view line = std::string_view(bytes).substr(start, end - start);
        const auto parsed = pjlink::parseLine(line, line.size() >= pjlink::kLongestLine);
        if (const auto* request = std::get_if<pjlink::Request>(&parsed)) {
            PJ_FUZZ_CHECK(std::string("%") + request->cls + request->command + " " +
                              request->parameter ==
                          line);
            PJ_FUZZ_CHECK(request->cls == '1' || request->cls == '2');
        } else {
            const auto& rejected = std::get<pjlink::Rejected>(parsed);
            PJ_FUZZ_CHECK(rejected.header.empty() || line.substr(0, 6) == rejected.header);
        }
        start = end + 1;
    }
    // A search is the one datagram answered on the search port.
    if (pjlink::isSearch(bytes)) {
        PJ_FUZZ_CHECK(bytes.starts_with("%2SRCH") && bytes.size() <= 8);
    }

    pj::sim::Projector projector;
    projector.settings().silent = (mode & 2) != 0;
    pjlink::Face face({"name", "info"}, [&](std::string_view text, int, auto answer) {
        projector.feed(std::string(text) + "\r", pj::sim::Millis{0});
        const std::string out = projector.pollOutput(pj::sim::Millis{0});
        answer(out.empty() ? std::nullopt : std::optional(out));
    });
    std::string written;
    bool closed = false;
    const bool password = (mode & 1) != 0;
    pjlink::Session session(
        {password ? std::optional<std::string>("pw") : std::nullopt, "0123abcd"}, 0,
        [&](std::string_view b) {
            PJ_FUZZ_CHECK(!closed || b == "PJLINK ERRA\r");
            written += b;
        },
        [&](const pjlink::Request& r, auto done) { face.carryOut(r, std::move(done)); },
        [](std::string_view) {}, [&](const std::string&) { closed = true; });
    session.open();
    const std::string greeting = password ? "PJLINK 1 0123abcd\r" : "PJLINK 0\r";
    PJ_FUZZ_CHECK(written == greeting);
    std::int64_t now = 0;
    for (std::size_t at = 0; at < bytes.size() && !closed;) {
        const std::size_t piece = 1 + static_cast<std::size_t>(bytes[at]) % 50;
        session.take(std::string_view(bytes).substr(at, piece), ++now);
        at += piece;
    }

    std::string_view answers = std::string_view(written).substr(greeting.size());
    if (closed && answers.ends_with("PJLINK ERRA\r")) {
        answers.remove_suffix(12);
    }
    std::size_t lines = 0;
    for (const char c : bytes) {
        lines += c == '\r' || c == '\n' ? 1 : 0;
    }
    std::size_t count = 0;
    while (!answers.empty()) {
        const std::size_t end = answers.find('\r');
        PJ_FUZZ_CHECK(end != std::string_view::npos && end >= 7);
        const std::string_view answer = answers.substr(0, end);
        PJ_FUZZ_CHECK(answer[0] == '%' && answer[6] == '=');
        for (std::size_t i = 1; i < 6; ++i) {
            PJ_FUZZ_CHECK(headerChar(answer[i]));
        }
        PJ_FUZZ_CHECK(bytes.find(answer.substr(0, 6)) != std::string::npos);
        PJ_FUZZ_CHECK(end < pjlink::kLongestLine);
        answers.remove_prefix(end + 1);
        ++count;
    }
    PJ_FUZZ_CHECK(count <= lines);
    PJ_FUZZ_CHECK(!session.idleCheck(now + pjlink::kIdleMs - 1) || closed);
    return 0;
}
