// SPDX-License-Identifier: Apache-2.0
// The status decoding: which decoder the last command chooses, and what each decoder may
// give for any reply.
//
// Input: byte 0 chooses the last command (one of the nine queries, or, from 9 up, any text
// up to a NUL byte); byte 1 chooses the address prefix the query went out with (low bits)
// and, with bit 7, a different prefix in force when the reply is decoded, and with bit 6
// that the decoders are handed the reply bytes themselves instead of their echo; bytes 2
// and 3 are the pressure value before the reply; the rest is the reply.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "protocol/echo.h"
#include "protocol/frame.h"
#include "status/decode.h"
#include "status/queries.h"

namespace {

using Readout = std::optional<std::string>;

// The decodable queries in the order the decoding tries them.
constexpr std::array<std::string_view, 9> kQueries{
    "CR0", "CR1", "CR3", "CR4", "CR6", "CR7", "CRA", "CR9", "CR PRESSURE",
};

// The lowest and highest readouts of the pressure decoder, for readings -6553 and 6553.
constexpr std::int16_t kLowestHpa = -6865;
constexpr std::int16_t kHighestHpa = 7077;
constexpr std::int16_t kMostReading = 6553;

Readout decodeDirectly(std::string_view query, std::string_view echo, std::int16_t& pressure) {
    if (query == "CR0") {
        return pj::decodeOperatingState(echo);
    }
    if (query == "CR1") {
        return pj::decodeInputMode(echo);
    }
    if (query == "CR4") {
        return pj::decodeOrientation(echo);
    }
    if (query == "CR3") {
        return pj::decodeLampHours(echo);
    }
    if (query == "CR6") {
        return pj::decodeTemperatures(echo);
    }
    if (query == "CRA") {
        return pj::decodeMuteAndSignal(echo);
    }
    if (query == "CR9") {
        return pj::decodeRawEcho(echo);
    }
    if (query == "CR7") {
        return pj::decodeLampMode(echo);
    }
    return pj::decodePressure(echo, pressure);
}

// Characters that make up the codes of the tables ("00".."88", "FF").
bool codeCharacter(char c) {
    return (c >= '0' && c <= '9') || c == 'F';
}

// Up to `count` characters from `position`, counted from 1; empty past the end.
std::string_view cut(std::string_view echo, std::size_t position, std::size_t count) {
    return position - 1 >= echo.size() ? std::string_view{} : echo.substr(position - 1, count);
}

void checkTable(std::string_view query, std::string_view echo, const Readout& readout) {
    const std::size_t keyLength = query == "CR1" ? 2 : 4;
    if (!readout) {
        return;
    }
    PJ_FUZZ_CHECK(readout->size() > 1 && readout->front() == ' ');
    PJ_FUZZ_CHECK(echo.size() >= keyLength);
    for (std::size_t i = 0; i < keyLength; i += 2) {
        PJ_FUZZ_CHECK(echo[i] == ' ' && codeCharacter(echo[i + 1]));
    }
    // The key alone decides.
    std::int16_t unused = 0;
    PJ_FUZZ_CHECK(decodeDirectly(query, echo.substr(0, keyLength), unused) == readout);
}

void checkTemperatures(std::string_view echo, const Readout& readout) {
    PJ_FUZZ_CHECK(readout.has_value());
    const std::string expected = "  S1=" + std::string(cut(echo, 1, 10)) +
                                 " C  ,   S2= " + std::string(cut(echo, 15, 8)) +
                                 " C  ,   S3= " + std::string(cut(echo, 28, 8)) +
                                 " C  ,   S4= " + std::string(cut(echo, 41, 8)) + " C ";
    PJ_FUZZ_CHECK(*readout == expected);
    PJ_FUZZ_CHECK(readout->size() <= 5 + 10 + 3 * (12 + 8) + 3);
}

void checkPressure(std::string_view echo, const Readout& readout, std::int16_t before,
                   std::int16_t after) {
    const auto reading = pj::readPressure(echo);
    const auto hpa = reading ? pj::pressureHpa(*reading) : std::nullopt;
    PJ_FUZZ_CHECK(readout.has_value() == hpa.has_value());
    if (!readout) {
        PJ_FUZZ_CHECK(after == before);
        return;
    }
    PJ_FUZZ_CHECK(after == *hpa);
    PJ_FUZZ_CHECK(*readout == std::to_string(after) + " hPa");
    PJ_FUZZ_CHECK(after >= kLowestHpa && after <= kHighestHpa);
}

// The conversion is defined for readings -6553..6553 only, and never decreases.
void checkConversion(std::int16_t reading) {
    const auto hpa = pj::pressureHpa(reading);
    PJ_FUZZ_CHECK(hpa.has_value() == (reading >= -kMostReading && reading <= kMostReading));
    if (hpa && reading < kMostReading) {
        const auto next = pj::pressureHpa(static_cast<std::int16_t>(reading + 1));
        PJ_FUZZ_CHECK(next.has_value() && *next >= *hpa);
    }
}

// Replies shaped [+-]d{0,4}[.d{0,3}] with an optional carriage return are read exactly, with
// integer arithmetic: the nearest integer, halves to the even neighbour.
std::optional<long> simpleReading(std::string_view reply) {
    if (!reply.empty() && reply.back() == '\r') {
        reply.remove_suffix(1);
    }
    bool negative = false;
    if (!reply.empty() && (reply.front() == '+' || reply.front() == '-')) {
        negative = reply.front() == '-';
        reply.remove_prefix(1);
    }
    const std::size_t point = reply.find('.');
    const std::string_view whole = reply.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : reply.substr(point + 1);
    if (whole.size() > 4 || fraction.size() > 3 || whole.size() + fraction.size() == 0) {
        return std::nullopt;
    }
    long thousandths = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        thousandths = thousandths * 10 + (c - '0');
    }
    std::size_t digits = 0;
    for (const char c : fraction) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        thousandths = thousandths * 10 + (c - '0');
        ++digits;
    }
    for (; digits < 3; ++digits) {
        thousandths *= 10;
    }
    long value = thousandths / 1000;
    const long rest = thousandths % 1000;
    if (rest > 500 || (rest == 500 && value % 2 != 0)) {
        ++value;
    }
    return negative ? -value : value;
}

void checkReading(std::string_view reply) {
    const std::string echo = pj::echoText(reply);
    // None of the echo's own pieces holds a digit, sign or point, and the reading skips its
    // spaces, so the echo reads as the reply does, unless the reply holds a tab or line feed
    // (skipped in the reply, shown as a piece in the echo).
    if (reply.find_first_of("\t\n") == std::string_view::npos) {
        PJ_FUZZ_CHECK(pj::readPressure(echo) == pj::readPressure(reply));
    }
    if (const auto expected = simpleReading(reply)) {
        const auto reading = pj::readPressure(echo);
        PJ_FUZZ_CHECK(reading.has_value() && *reading == *expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pj::fuzz::ByteReader in(data, size);
    const std::uint8_t choice = in.byte();
    const std::uint8_t address = in.byte();
    const std::int16_t pressureBefore = in.int16();

    const std::string_view sentPrefix = pj::kAddressOptions[address % 6].prefix;
    const std::string_view prefixNow =
        (address & 0x80) != 0 ? pj::kAddressOptions[(address / 8) % 6].prefix : sentPrefix;

    std::string lastCommand;
    if (choice % 10 < kQueries.size()) {
        const std::string_view query = kQueries[choice % 10];
        lastCommand = std::string(sentPrefix) + std::string(query) + '\r';
        PJ_FUZZ_CHECK(pj::buildFrame(sentPrefix, query) == lastCommand);
    } else {
        lastCommand = in.until('\0');
    }
    const std::string_view reply = in.rest();
    const std::string echo = (address & 0x40) != 0 ? std::string(reply) : pj::echoText(reply);

    // The query table tries the same queries in the same order.
    for (std::size_t i = 0; i < kQueries.size(); ++i) {
        PJ_FUZZ_CHECK(pj::kStatusQueries[i].command == kQueries[i]);
    }

    // The query whose frame, with the prefix now in force, is the last command exactly.
    std::optional<std::string_view> matched;
    for (const std::string_view query : kQueries) {
        if (lastCommand == std::string(prefixNow) + std::string(query) + '\r') {
            matched = query;
        }
    }

    std::int16_t pressure = pressureBefore;
    const Readout readout = pj::decodeStatus(lastCommand, prefixNow, echo, pressure);

    if (!matched) {
        PJ_FUZZ_CHECK(!readout.has_value());
        PJ_FUZZ_CHECK(pressure == pressureBefore);
    } else {
        std::int16_t expectedPressure = pressureBefore;
        PJ_FUZZ_CHECK(readout == decodeDirectly(*matched, echo, expectedPressure));
        PJ_FUZZ_CHECK(pressure == expectedPressure);
        if (*matched != "CR PRESSURE") {
            PJ_FUZZ_CHECK(pressure == pressureBefore);
        }
        if (*matched == "CR0" || *matched == "CR1" || *matched == "CR4" || *matched == "CRA" ||
            *matched == "CR7") {
            checkTable(*matched, echo, readout);
        } else if (*matched == "CR3") {
            PJ_FUZZ_CHECK(readout == std::string(echo.substr(0, 38)) + " Hour Use");
        } else if (*matched == "CR6") {
            checkTemperatures(echo, readout);
        } else if (*matched == "CR9") {
            PJ_FUZZ_CHECK(readout == echo);
        } else {
            checkPressure(echo, readout, pressureBefore, pressure);
        }
    }

    checkConversion(pressureBefore);
    checkReading(reply);
    return 0;
}
