// SPDX-License-Identifier: Apache-2.0
#include "link/line_log.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace pj {

namespace {

// The wall-clock time now, in UTC, to the millisecond: "2026-12-07T20:40:00.123Z".
std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    std::array<char, 8> fraction{};
    std::snprintf(fraction.data(), fraction.size(), ".%03dZ", static_cast<int>(millis));
    return std::string(text.data(), length) + fraction.data();
}

}  // namespace

// The record's lines are written here rather than by a JSON library: the times keep their
// three decimals and every byte of the line its own escape (\u00FF, never a decoding of the
// bytes as UTF-8), so the lines stay as they have always been for scripts that read them.
std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (code < 0x20 || code >= 0x7F) {
                    std::array<char, 8> escaped{};
                    std::snprintf(escaped.data(), escaped.size(), "\\u%04X", code);
                    out += escaped.data();
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string hexBytes(std::string_view bytes) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (!out.empty()) {
            out += ' ';
        }
        out += kDigits[code >> 4];
        out += kDigits[code & 0x0F];
    }
    return out;
}

LineLog::LineLog(std::ostream& out, const Clock& clock, const LineLogHeader& header,
                 FormObserver* next)
    : out_(out), clock_(clock), next_(next), startUs_(clock.nowUs()) {
    write("{\"log\":\"pjpanel line log\",\"version\":1,\"program\":" + jsonString(header.program) +
          ",\"port\":" + jsonString(header.port) + ",\"baud\":" + std::to_string(header.baud) +
          ",\"started\":\"" + utcNow() + "\"}");
}

void LineLog::sent(std::string_view frame) {
    traffic("out", frame);
    if (next_ != nullptr) {
        next_->sent(frame);
    }
}

void LineLog::received(std::string_view bytes, std::string_view echo) {
    traffic("in", bytes);
    if (next_ != nullptr) {
        next_->received(bytes, echo);
    }
}

void LineLog::readout(std::string_view text) {
    if (next_ != nullptr) {
        next_->readout(text);
    }
}

void LineLog::replyWindowEnded(bool answered) {
    if (!answered) {
        event("no reply", "");
    }
    if (next_ != nullptr) {
        next_->replyWindowEnded(answered);
    }
}

void LineLog::portReady() {
    event("port ready", "");
    if (next_ != nullptr) {
        next_->portReady();
    }
}

void LineLog::portError(std::string_view message) {
    event("port error", message);
    if (next_ != nullptr) {
        next_->portError(message);
    }
}

void LineLog::traffic(std::string_view direction, std::string_view bytes) {
    write("{\"ms\":" + stamp() + ",\"dir\":\"" + std::string(direction) + "\",\"hex\":\"" +
          hexBytes(bytes) + "\",\"ascii\":" + jsonString(bytes) + "}");
}

void LineLog::event(std::string_view what, std::string_view text) {
    write("{\"ms\":" + stamp() + ",\"event\":\"" + std::string(what) +
          "\",\"text\":" + jsonString(text) + "}");
}

void LineLog::write(const std::string& line) {
    out_ << line << '\n';
    out_.flush();
    good_ = good_ && !out_.fail();
}

std::string LineLog::stamp() const {
    const std::int64_t us = clock_.nowUs() - startUs_;
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    return text.data();
}

}  // namespace pj
