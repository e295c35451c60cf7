// SPDX-License-Identifier: Apache-2.0
#include "sim/replay.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <variant>

namespace pj::sim {

namespace {

// ---- One line of the log: a JSON object ------------------------------------------------

// A top-level field's value: a number, a string, or something else (an object, an array,
// true, false or null), which this format never needs.
using Field = std::variant<std::monostate, double, std::string>;
using Fields = std::map<std::string, Field, std::less<>>;

struct Escape {
    char written;  // after the backslash
    char meant;
};

constexpr std::array kEscapes{
    Escape{'"', '"'},  Escape{'\\', '\\'}, Escape{'/', '/'},  Escape{'b', '\b'},
    Escape{'f', '\f'}, Escape{'n', '\n'},  Escape{'r', '\r'}, Escape{'t', '\t'},
};

// Reads one JSON object, keeping its top-level numbers and strings. Nothing more than the
// line log needs: nested values are checked and passed over.
class ObjectReader {
  public:
    explicit ObjectReader(std::string_view text) : text_(text) {}

    bool read(Fields& fields) {
        Field object;
        if (peek() != '{' || !value(object, 0, &fields)) {
            return false;
        }
        blanks();
        return at_ == text_.size();
    }

  private:
    static constexpr int kDeepest = 32;
    static constexpr std::string_view kBlanks = " \t\r\n";
    static constexpr std::string_view kNumeric = "+-.eE0123456789";

    char peek() {
        blanks();
        return at_ < text_.size() ? text_[at_] : '\0';
    }
    bool eat(char c) {
        if (peek() != c) {
            return false;
        }
        ++at_;
        return true;
    }
    void blanks() {
        while (at_ < text_.size() && kBlanks.find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
    }

    // A value into `out`; an object's members into `members` when given (the top level).
    bool value(Field& out, int depth, Fields* members = nullptr) {
        if (depth > kDeepest) {
            return false;
        }
        const char c = peek();
        if (c == '{') {
            ++at_;
            if (eat('}')) {
                return true;
            }
            do {
                std::string key;
                Field member;
                if (peek() != '"' || !string(key) || !eat(':') || !value(member, depth + 1)) {
                    return false;
                }
                if (members != nullptr) {
                    (*members)[std::move(key)] = std::move(member);
                }
            } while (eat(','));
            return eat('}');
        }
        if (c == '[') {
            ++at_;
            if (eat(']')) {
                return true;
            }
            do {
                Field element;
                if (!value(element, depth + 1)) {
                    return false;
                }
            } while (eat(','));
            return eat(']');
        }
        if (c == '"') {
            std::string text;
            if (!string(text)) {
                return false;
            }
            out = std::move(text);
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            return number(out);
        }
        for (const std::string_view word : {"true", "false", "null"}) {
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                return true;
            }
        }
        return false;
    }

    bool number(Field& out) {
        const std::size_t start = at_;
        while (at_ < text_.size() && kNumeric.find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
        double number = 0;
        const char* end = text_.data() + at_;
        const auto [stop, error] = std::from_chars(text_.data() + start, end, number);
        if (error != std::errc{} || stop != end) {
            return false;
        }
        out = number;
        return true;
    }

    // A string, its escapes undone (\uXXXX as UTF-8).
    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            const char e = text_[at_++];
            const auto* plain = std::find_if(kEscapes.begin(), kEscapes.end(),
                                             [e](const Escape& x) { return x.written == e; });
            if (plain != kEscapes.end()) {
                out.push_back(plain->meant);
                continue;
            }
            if (e != 'u') {
                return false;
            }
            unsigned code = 0;
            const char* digits = text_.data() + at_;
            if (text_.size() - at_ < 4 ||
                std::from_chars(digits, digits + 4, code, 16).ptr != digits + 4) {
                return false;
            }
            at_ += 4;
            if (code < 0x80) {
                out.push_back(static_cast<char>(code));
            } else if (code < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// "30 30 0D": two hex digits a byte, one space between bytes.
std::optional<std::string> bytesFromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t at = 0; at < hex.size(); at += 3) {
        unsigned value = 0;
        const char* digits = hex.data() + at;
        if (hex.size() - at < 2 ||
            std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2 ||
            (at + 2 < hex.size() && hex[at + 2] != ' ') || at + 3 == hex.size()) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

template <class T>
const T* field(const Fields& fields, std::string_view name) {
    const auto found = fields.find(name);
    return found == fields.end() ? nullptr : std::get_if<T>(&found->second);
}

// About thirty years: any time in a log is less, and its offsets stay far from overflow.
constexpr double kLatestMs = 1e12;

// The log gives milliseconds to three decimals; a piece never goes out sooner than recorded.
Millis offsetOf(double ms) {
    return Millis{static_cast<Millis::rep>(std::ceil(ms - 0.0005))};
}

}  // namespace

// ---- Reading a recording ---------------------------------------------------------------

ReadRecording parseRecording(std::string_view text) {
    ReadRecording read;
    double frameMs = 0;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const auto fail = [&](std::string_view what) {
            read.recording.exchanges.clear();
            read.error = "line " + std::to_string(number) + ": " + std::string(what);
            return read;
        };

        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue;
        }
        Fields fields;
        if (!ObjectReader(line).read(fields)) {
            return fail("not a JSON object");
        }
        if (fields.find("dir") == fields.end()) {
            continue;  // the header, an event, or something this reader does not know
        }
        const std::string* dir = field<std::string>(fields, "dir");
        if (dir == nullptr) {
            return fail("\"dir\" is not a string");
        }
        const bool out = *dir == "out";
        if (!out && *dir != "in") {
            continue;
        }
        const double* ms = field<double>(fields, "ms");
        if (ms == nullptr || !(*ms >= 0 && *ms <= kLatestMs)) {
            return fail("\"ms\" is missing or not a time in milliseconds");
        }
        const std::string* hex = field<std::string>(fields, "hex");
        const std::optional<std::string> bytes = hex ? bytesFromHex(*hex) : std::nullopt;
        if (!bytes) {
            return fail("\"hex\" is missing or not bytes in hex (\"30 30 0D\")");
        }
        auto& exchanges = read.recording.exchanges;
        if (out) {
            if (bytes->empty() || bytes->find('\r') != bytes->size() - 1) {
                return fail("an \"out\" frame must end in its only carriage return (0D)");
            }
            exchanges.push_back(RecordedExchange{*bytes, {}});
            frameMs = *ms;
        } else if (!exchanges.empty() && !bytes->empty()) {
            if (*ms < frameMs) {
                return fail("\"ms\" is earlier than its frame's");
            }
            exchanges.back().answer.push_back(Outgoing{offsetOf(*ms - frameMs), *bytes});
        }
    }
    if (read.recording.exchanges.empty()) {
        read.error = "no \"out\" record: the recording holds no frame the panel wrote";
    }
    return read;
}

ReadRecording loadRecording(const std::string& path) {
    const auto close = [](std::FILE* f) { std::fclose(f); };
    const std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(path.c_str(), "rb"), close);
    std::string text;
    bool failed = file == nullptr;
    if (!failed) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
            text.append(buffer, got);
        }
        failed = std::ferror(file.get()) != 0;
    }
    if (failed) {
        return ReadRecording{{}, path + ": " + std::strerror(errno)};
    }
    ReadRecording read = parseRecording(text);
    if (!read.error.empty()) {
        read.error = path + ": " + read.error;
    }
    return read;
}

// ---- Playing it back -------------------------------------------------------------------

Replay::Replay(Recording recording, bool recordFrames)
    : recording_(std::move(recording)),
      used_(recording_.exchanges.size(), false),
      recordFrames_(recordFrames) {
    for (const RecordedExchange& e : recording_.exchanges) {
        longest_ = std::max(longest_, e.frame.size());
    }
}

void Replay::feed(std::string_view bytes, Millis now) {
    for (const char c : bytes) {
        if (discarding_) {
            discarding_ = c != '\r';
            continue;
        }
        partial_.push_back(c);
        if (c == '\r') {
            handleFrame(std::exchange(partial_, {}), now);
        } else if (partial_.size() >= longest_) {
            // Longer than any recorded frame before its end: no match is possible, and
            // nothing is kept of it.
            if (unmatched_) {
                unmatched_(partial_ + "...");
            }
            partial_.clear();
            discarding_ = true;
        }
    }
}

void Replay::handleFrame(std::string frame, Millis now) {
    ++frameCount_;
    const ReceivedFrame received{now, frame.substr(0, frame.size() - 1)};
    if (observer_) {
        observer_(received);
    }
    if (recordFrames_) {
        frames_.push_back(received);
    }
    const std::optional<std::size_t> found = match(frame);
    if (!found) {
        if (unmatched_) {
            unmatched_(received.text);
        }
        return;
    }
    used_[*found] = true;
    from_ = *found + 1;
    for (const Outgoing& piece : recording_.exchanges[*found].answer) {
        const Millis due = now + piece.due;
        const auto after =
            std::upper_bound(pending_.begin(), pending_.end(), due,
                             [](Millis d, const Outgoing& queued) { return d < queued.due; });
        pending_.insert(after, Outgoing{due, piece.bytes});
    }
}

std::optional<std::size_t> Replay::match(std::string_view frame) const {
    const std::size_t count = recording_.exchanges.size();
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = (from_ + k) % count;
        if (!used_[i] && recording_.exchanges[i].frame == frame) {
            return i;
        }
    }
    return std::nullopt;
}

std::string Replay::pollOutput(Millis now) {
    std::string out;
    auto it = pending_.begin();
    for (; it != pending_.end() && it->due <= now; ++it) {
        out += it->bytes;
    }
    pending_.erase(pending_.begin(), it);
    return out;
}

std::optional<Millis> Replay::nextDue() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    return pending_.front().due;
}

std::size_t Replay::usedCount() const {
    return static_cast<std::size_t>(std::count(used_.begin(), used_.end(), true));
}

}  // namespace pj::sim
