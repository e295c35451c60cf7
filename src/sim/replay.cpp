// SPDX-License-Identifier: Apache-2.0
#include "sim/replay.h"

#include "link/bounded_file.h"

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

#include <nlohmann/json.hpp>

namespace pj::sim {

namespace {

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
        const nlohmann::json fields = nlohmann::json::parse(line, nullptr, false);
        if (!fields.is_object()) {
            return fail("not a JSON object");
        }
        const auto dir = fields.find("dir");
        if (dir == fields.end()) {
            continue;  // the header, an event, or something this reader does not know
        }
        if (!dir->is_string()) {
            return fail("\"dir\" is not a string");
        }
        const bool out = dir->get_ref<const std::string&>() == "out";
        if (!out && dir->get_ref<const std::string&>() != "in") {
            continue;
        }
        const auto msField = fields.find("ms");
        const double ms =
            msField != fields.end() && msField->is_number() ? msField->get<double>() : -1;
        if (!(ms >= 0 && ms <= kLatestMs)) {
            return fail("\"ms\" is missing or not a time in milliseconds");
        }
        const auto hex = fields.find("hex");
        const std::optional<std::string> bytes =
            hex != fields.end() && hex->is_string()
                ? bytesFromHex(hex->get_ref<const std::string&>())
                : std::nullopt;
        if (!bytes) {
            return fail("\"hex\" is missing or not bytes in hex (\"30 30 0D\")");
        }
        auto& exchanges = read.recording.exchanges;
        if (out) {
            if (bytes->empty() || bytes->find('\r') != bytes->size() - 1) {
                return fail("an \"out\" frame must end in its only carriage return (0D)");
            }
            exchanges.push_back(RecordedExchange{*bytes, {}});
            frameMs = ms;
        } else if (!exchanges.empty() && !bytes->empty()) {
            if (ms < frameMs) {
                return fail("\"ms\" is earlier than its frame's");
            }
            exchanges.back().answer.push_back(Outgoing{offsetOf(ms - frameMs), *bytes});
        }
    }
    if (read.recording.exchanges.empty()) {
        read.error = "no \"out\" record: the recording holds no frame the panel wrote";
    }
    return read;
}

ReadRecording loadRecording(const std::string& path) {
    FileText file = readBoundedFile(path, kLongestRecording);
    if (const auto* refused = std::get_if<FileRefused>(&file)) {
        return ReadRecording{{}, refused->message};
    }
    ReadRecording read = parseRecording(std::get<std::string>(file));
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
