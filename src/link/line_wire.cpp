// SPDX-License-Identifier: Apache-2.0
#include "link/line_wire.h"

#include <algorithm>
#include <random>

namespace pj::wire {

namespace {

constexpr std::string_view kNonceChars = "0123456789abcdefghijklmnopqrstuvwxyz";

bool nonceChar(char c) {
    return kNonceChars.find(c) != std::string_view::npos;
}

}  // namespace

std::string hello(std::string_view nonce) {
    std::string out(kHelloStart);
    out += nonce;
    out += '\r';
    return out;
}

std::string freshNonce() {
    std::random_device entropy;
    std::uniform_int_distribution<std::size_t> pick(0, kNonceChars.size() - 1);
    std::string nonce;
    for (std::size_t i = 0; i < kNonceSize; ++i) {
        nonce += kNonceChars[pick(entropy)];
    }
    return nonce;
}

HelloCheck checkHello(std::string_view first) {
    for (std::size_t i = 0; i < std::min(first.size(), kHelloSize); ++i) {
        const char c = first[i];
        const bool fits = i < kHelloStart.size() ? c == kHelloStart[i]
                          : i + 1 < kHelloSize   ? nonceChar(c)
                                                 : c == '\r';
        if (!fits) {
            return HelloCheck::NotHello;
        }
    }
    return first.size() >= kHelloSize ? HelloCheck::Complete : HelloCheck::Partial;
}

std::string encode(RecordType type, std::string_view payload) {
    if (type == RecordType::Message) {
        payload = payload.substr(0, kLongestMessage);
    }
    std::string out;
    do {
        const std::string_view part = payload.substr(0, kLongestPayload);
        payload.remove_prefix(part.size());
        out += static_cast<char>(type);
        out += static_cast<char>(part.size() >> 8);
        out += static_cast<char>(part.size() & 0xFF);
        out += part;
    } while (!payload.empty());
    return out;
}

std::string message(std::string_view word, std::string_view rest) {
    std::string text(word);
    if (!rest.empty()) {
        text += ' ';
        text += rest;
    }
    return encode(RecordType::Message, text);
}

std::optional<std::string_view> messageArgument(std::string_view text, std::string_view word) {
    if (text == word) {
        return std::string_view();
    }
    if (text.size() > word.size() && text.starts_with(word) && text[word.size()] == ' ') {
        return text.substr(word.size() + 1);
    }
    return std::nullopt;
}

bool RecordReader::take(std::string_view bytes, std::vector<Record>& out) {
    const auto takeUpTo = [&](std::size_t size) {
        const std::size_t part = std::min(size - std::min(size, partial_.size()), bytes.size());
        partial_.append(bytes.substr(0, part));
        bytes.remove_prefix(part);
        return partial_.size() >= size;
    };
    while (!broken_ && !bytes.empty()) {
        if (!takeUpTo(kRecordHead)) {
            break;
        }
        const auto type = static_cast<RecordType>(partial_[0]);
        const std::size_t length = (std::size_t{static_cast<unsigned char>(partial_[1])} << 8) |
                                   static_cast<unsigned char>(partial_[2]);
        if ((type != RecordType::Data && type != RecordType::Message) ||
            (type == RecordType::Message && length > kLongestMessage)) {
            broken_ = true;
            break;
        }
        if (!takeUpTo(kRecordHead + length)) {
            break;
        }
        out.push_back({type, partial_.substr(kRecordHead)});
        partial_.clear();
    }
    return !broken_;
}

bool ClientReader::take(std::string_view bytes, std::vector<Record>& out) {
    if (!greeted_) {
        seen_.append(bytes);
        const std::size_t at = seen_.find(greeting_);
        if (at == std::string::npos) {
            // Only a greeting's beginning at the end can still become one.
            if (seen_.size() >= greeting_.size()) {
                seen_.erase(0, seen_.size() - (greeting_.size() - 1));
            }
            return true;
        }
        greeted_ = true;
        const std::string rest = seen_.substr(at + greeting_.size());
        seen_.clear();
        return records_.take(rest, out);
    }
    return records_.take(bytes, out);
}

}  // namespace pj::wire
