// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What pjline, the line server, and the clients that take its messages say to each other:
// the one place of the words and of the framing, for the server and every client port.
//
// A client that says nothing special is a raw client: it reads the line's bytes exactly as
// they came and is never sent a message. A client that wants pjline's messages sends the
// hello as the very first bytes of its connection: kHelloStart, a nonce of its own and a
// carriage return. pjline answers with the same hello (its greeting), and from there on both
// directions are records: a type byte ('D' the line's bytes or a client's frames, 'M' a
// message), the payload's length in two bytes (most significant first) and the payload. What
// the line brought before the greeting is skipped by the client up to the greeting; the line
// never saw the nonce, so it cannot forge the greeting, and after it no byte from the line is
// read as anything but a data record's payload.
namespace pj::wire {

// The words of the messages; a message is a word, or a word, a space and the rest.
// From a client:
inline constexpr std::string_view kHold = "hold";  // "hold" or "hold MS": hold the line
// From pjline:
inline constexpr std::string_view kHeld = "held";        // the hold is taken
inline constexpr std::string_view kSent = "sent";        // to a holder: a frame went out now
inline constexpr std::string_view kLost = "lost";        // "lost REASON": the line went away
inline constexpr std::string_view kBack = "back";        // the line is open again
inline constexpr std::string_view kRefused = "refused";  // "refused REASON": a frame not sent

// What a client that gave up waiting for its turn on the line says of it.
inline constexpr std::string_view kLineBusy = "the line is busy";

inline constexpr std::string_view kHelloStart{"\0pjline 1 ", 10};
// A nonce is this many characters from [0-9a-z].
inline constexpr std::size_t kNonceSize = 32;
inline constexpr std::size_t kHelloSize = kHelloStart.size() + kNonceSize + 1;

// The hello a client sends (and the greeting pjline answers with) for `nonce`.
std::string hello(std::string_view nonce);
// A nonce nobody can guess.
std::string freshNonce();

enum class HelloCheck { Partial, Complete, NotHello };
// What the first bytes of a connection are: the whole hello (the connection's first
// kHelloSize bytes), its beginning so far, or not a hello.
HelloCheck checkHello(std::string_view first);

enum class RecordType : char { Data = 'D', Message = 'M' };

struct Record {
    RecordType type;
    std::string payload;
    bool operator==(const Record&) const = default;
};

inline constexpr std::size_t kRecordHead = 3;
inline constexpr std::size_t kLongestPayload = 0xFFFF;
// The longest message a reader takes; a longer one breaks the stream.
inline constexpr std::size_t kLongestMessage = 512;

// The records for `payload`: data longer than a record holds goes in several; a message is
// cut to the longest a reader takes.
std::string encode(RecordType type, std::string_view payload);
inline std::string dataRecord(std::string_view bytes) {
    return encode(RecordType::Data, bytes);
}
// The message `word`, or `word` and `rest` with a space between.
std::string message(std::string_view word, std::string_view rest = {});

// The rest of `text` when it is the message `word` ("" when it is the word alone).
std::optional<std::string_view> messageArgument(std::string_view text, std::string_view word);

// Records out of a byte stream that arrives in pieces.
class RecordReader {
  public:
    // Adds the records `bytes` completes to `out`. False once the stream is broken (a type
    // it does not know, a message longer than kLongestMessage): from then on it takes nothing.
    bool take(std::string_view bytes, std::vector<Record>& out);
    bool broken() const { return broken_; }

  private:
    std::string partial_;  // a record's head and payload so far
    bool broken_ = false;
};

// A client's reading of its connection: the bytes up to pjline's greeting are skipped, then
// records follow.
class ClientReader {
  public:
    explicit ClientReader(std::string greeting) : greeting_(std::move(greeting)) {}
    bool greeted() const { return greeted_; }
    // As RecordReader::take, after the greeting.
    bool take(std::string_view bytes, std::vector<Record>& out);

  private:
    std::string greeting_;
    std::string seen_;  // the end of what was skipped, as long as the greeting less one
    bool greeted_ = false;
    RecordReader records_;
};

}  // namespace pj::wire
