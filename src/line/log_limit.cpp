// SPDX-License-Identifier: Apache-2.0
#include "line/log_limit.h"

namespace pj::line {
namespace {

constexpr std::string_view kOtherCauses = "\x01other";

}  // namespace

LogLimiter::LogLimiter(const Clock& clock, Sink sink, int windowMs, std::size_t burst)
    : clock_(clock),
      sink_(std::move(sink)),
      windowUs_(std::int64_t{windowMs} * 1000),
      burst_(burst) {}

std::string LogLimiter::causeOf(std::string_view line) {
    std::string cause;
    bool inNumber = false;
    for (const char c : line) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit) {
            cause += c;
        } else if (!inNumber) {
            cause += '#';
        }
        inNumber = digit;
    }
    return cause;
}

void LogLimiter::close(std::int64_t nowUs) {
    for (auto it = windows_.begin(); it != windows_.end();) {
        Window& w = it->second;
        if (nowUs - w.startUs < windowUs_) {
            ++it;
            continue;
        }
        if (w.held > 0) {
            sink_(w.last + " ... " + std::to_string(w.held) + " more in the last " +
                  std::to_string(windowUs_ / 1000000) + " s");
        }
        it = windows_.erase(it);
    }
}

void LogLimiter::tick() {
    close(clock_.nowUs());
}

void LogLimiter::log(std::string_view line) {
    const std::int64_t now = clock_.nowUs();
    close(now);
    std::string cause = causeOf(line);
    if (!windows_.contains(cause) && windows_.size() >= kCauses) {
        cause = kOtherCauses;
    }
    auto [it, fresh] = windows_.try_emplace(std::move(cause));
    Window& w = it->second;
    if (fresh) {
        w.startUs = now;
    }
    if (w.passed < burst_) {
        ++w.passed;
        sink_(line);
        return;
    }
    ++w.held;
    w.last = std::string(line);
}

}  // namespace pj::line
