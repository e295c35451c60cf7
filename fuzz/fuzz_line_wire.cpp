// SPDX-License-Identifier: Apache-2.0
// The reading of pjline's records on the client's side (link/line_wire.h), under any stream.
//
// The first byte picks the stream. Even: pjline's own, built from the input: the line's
// bytes before the greeting (whatever they are, but for the greeting itself, which carries a
// nonce the line never saw), the greeting, then data records (the line's bytes, anything at
// all, often shaped like messages, records or the greeting) and messages, all cut into reads
// of any size. The reader must skip to the greeting, give back exactly the records written,
// never a message where data was written, and their encoding must be the stream after the
// greeting. Odd: the input itself as the stream, a hostile or broken one. The reader must not
// fail other than by saying so, and what it took must encode back to the start of what
// followed the greeting.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "link/line_wire.h"

namespace {

namespace wire = pj::wire;
using namespace std::string_literals;

const std::string kGreeting = wire::hello(std::string(wire::kNonceSize, 'q'));

constexpr std::string_view kWords[] = {wire::kHeld, wire::kSent,    wire::kLost,
                                       wire::kBack, wire::kRefused, "what"};

// Feeds `stream` in reads of the sizes the input gives.
bool feed(pj::fuzz::ByteReader& in, wire::ClientReader& reader, std::string_view stream,
          std::vector<wire::Record>& out) {
    bool whole = true;
    while (!stream.empty()) {
        const std::size_t size = 1 + in.byte() % 64;
        whole = reader.take(stream.substr(0, size), out) && whole;
        stream.remove_prefix(std::min(size, stream.size()));
    }
    return whole;
}

std::string encoded(const std::vector<wire::Record>& records) {
    std::string out;
    for (const wire::Record& r : records) {
        out += wire::encode(r.type, r.payload);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    wire::ClientReader reader(kGreeting);
    std::vector<wire::Record> read;

    if (in.byte() % 2 == 1) {
        const std::string stream(in.rest());
        const bool whole = reader.take(stream, read);
        const std::size_t at = stream.find(kGreeting);
        PJ_FUZZ_CHECK(reader.greeted() == (at != std::string::npos));
        PJ_FUZZ_CHECK(reader.greeted() || read.empty());
        if (reader.greeted()) {
            const std::string after = stream.substr(at + kGreeting.size());
            PJ_FUZZ_CHECK(after.starts_with(encoded(read)));
        }
        for (const wire::Record& r : read) {
            PJ_FUZZ_CHECK(r.type != wire::RecordType::Message ||
                          r.payload.size() <= wire::kLongestMessage);
        }
        // A stream found broken stays broken.
        std::vector<wire::Record> more;
        PJ_FUZZ_CHECK(whole || !reader.take("D\0\0"s, more));
        return 0;
    }

    // The line's bytes before the greeting: never the greeting itself.
    std::string before(in.take(in.byte()));
    for (std::size_t at; (at = before.find(kGreeting)) != std::string::npos;) {
        before.erase(at, 1);
    }
    std::vector<wire::Record> written;
    std::string stream = before + kGreeting;
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        std::string payload;
        if (op % 3 == 0) {
            payload = std::string(kWords[in.byte() % std::size(kWords)]);
            if (op & 0x10) {
                payload += ' ';
                payload += in.take(in.byte() % 32);
            }
            written.push_back({wire::RecordType::Message, payload});
        } else {
            // Data shaped as the input likes, now and then as the greeting or a message.
            payload = in.take(in.byte());
            if (op & 0x20) {
                payload += op & 0x40 ? kGreeting : wire::message(wire::kLost, "spoofed");
            }
            written.push_back({wire::RecordType::Data, payload});
        }
        stream += wire::encode(written.back().type, payload);
    }
    PJ_FUZZ_CHECK(feed(in, reader, stream, read));
    PJ_FUZZ_CHECK(reader.greeted());
    PJ_FUZZ_CHECK(read == written);
    PJ_FUZZ_CHECK(kGreeting + encoded(read) == stream.substr(before.size()));
    return 0;
}
