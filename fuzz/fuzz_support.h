// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the fuzz targets share: a check that stops the run on a broken invariant, and a
// reader that takes the fuzzer's input apart front to back, so that seed files can be
// written by hand.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Stops the run, naming the invariant; libFuzzer keeps the input that broke it. Unlike
// assert() it is not compiled out in optimised builds.
#define PJ_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace pj::fuzz {

class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size)
        : bytes_(reinterpret_cast<const char*>(data), size) {}

    bool empty() const { return bytes_.empty(); }

    // The next byte, or 0 once the input is used up.
    std::uint8_t byte() {
        if (bytes_.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return b;
    }

    // A little-endian 16-bit value.
    std::int16_t int16() {
        const auto low = static_cast<unsigned>(byte());
        const auto high = static_cast<unsigned>(byte());
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    }

    // Up to `count` bytes.
    std::string_view take(std::size_t count) {
        const std::string_view out = bytes_.substr(0, count);
        bytes_.remove_prefix(out.size());
        return out;
    }

    // The bytes before the next `separator` (which is consumed), or all that is left.
    std::string_view until(char separator) {
        const std::size_t at = bytes_.find(separator);
        const std::string_view out = bytes_.substr(0, at);
        bytes_.remove_prefix(at == std::string_view::npos ? bytes_.size() : at + 1);
        return out;
    }

    std::string_view rest() { return take(bytes_.size()); }

  private:
    std::string_view bytes_;
};

}  // namespace pj::fuzz
