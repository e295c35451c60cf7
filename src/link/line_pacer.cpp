// SPDX-License-Identifier: Apache-2.0
#include "link/line_pacer.h"

#include <algorithm>
#include <utility>

#include "link/line_settings.h"

namespace pj {

namespace {
constexpr LineParams kFallbackLine{19200};
}  // namespace

LinePacer::LinePacer(Timer& timer, const Clock& clock)
    : timer_(timer), clock_(clock), characterUs_(characterTimeUs(kFallbackLine)) {
    timer_.setEnabled(false);
    timer_.setOnTimer([this] { LinePacer_Timer(); });
}

void LinePacer::setLineSettings(std::string_view settings) {
    const auto params = parseLineSettings(settings);
    characterUs_ = characterTimeUs(params ? *params : kFallbackLine);
}

void LinePacer::written(std::size_t bytes) {
    freeAtUs_ =
        std::max(freeAtUs_, clock_.nowUs()) + static_cast<std::int64_t>(bytes) * characterUs_;
}

int LinePacer::waitMs() const {
    const std::int64_t busyUs = freeAtUs_ - clock_.nowUs();
    if (busyUs <= kSlackUs) {
        return 0;
    }
    return static_cast<int>((busyUs - kSlackUs + 999) / 1000);
}

void LinePacer::due(std::function<void()> send) {
    const int wait = waitMs();
    if (wait == 0) {
        cancel();
        send();
        return;
    }
    if (!waiting_) {
        timer_.setInterval(wait);
        timer_.setEnabled(true);
    }
    waiting_ = std::move(send);
}

void LinePacer::cancel() {
    waiting_ = nullptr;
    timer_.setEnabled(false);
}

void LinePacer::LinePacer_Timer() {
    timer_.setEnabled(false);
    if (auto send = std::exchange(waiting_, nullptr)) {
        send();
    }
}

}  // namespace pj
