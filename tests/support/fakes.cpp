// SPDX-License-Identifier: Apache-2.0
#include "support/fakes.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace pj::test {

// ---- virtual clock ----

void FakeTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_) {
        due_ = clock_.now_ + interval_;
        ++generation_;
    }
}

void FakeTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled_) {
        due_ = clock_.now_ + interval_;
        ++generation_;
    }
}

FakeTimer& VirtualClock::makeTimer() {
    timers_.push_back(std::make_unique<FakeTimer>(*this));
    return *timers_.back();
}

void VirtualClock::at(std::int64_t when, std::function<void()> action) {
    actions_.emplace(when, std::move(action));
}

void VirtualClock::advance(std::int64_t ms) {
    const std::int64_t end = now_ + ms;
    for (;;) {
        FakeTimer* next = nullptr;
        for (const auto& timer : timers_) {
            // A timer with no period would fire endlessly; like a real timer at 0 ms it
            // fires once per step of the clock at most, so it is left out here.
            if (timer->enabled_ && timer->interval_ > 0 && timer->due_ <= end &&
                (next == nullptr || timer->due_ < next->due_)) {
                next = timer.get();
            }
        }
        const auto action = actions_.begin();
        const bool actionFirst = action != actions_.end() && action->first <= end &&
                                 (next == nullptr || action->first <= next->due_);
        if (actionFirst) {
            now_ = std::max(now_, action->first);
            auto run = std::move(action->second);
            actions_.erase(action);
            run();
            continue;
        }
        if (next == nullptr) {
            break;
        }
        now_ = next->due_;
        const std::uint64_t generation = next->generation_;
        if (next->handler_) {
            next->handler_();
        }
        // Periodic unless the handler restarted or stopped it.
        if (next->enabled_ && next->generation_ == generation) {
            next->due_ += next->interval_;
        }
    }
    now_ = end;
}

// ---- serial ----

SerialResult FakeSerial::setCommPort(int port) {
    if (open_) {
        return SerialResult::failed("the port is open");
    }
    port_ = port;
    return SerialResult::done();
}

SerialResult FakeSerial::setSettings(std::string_view s) {
    settings = s;
    return SerialResult::done();
}

SerialResult FakeSerial::setPortOpen(bool open) {
    if (open == open_) {
        return open ? SerialResult::failed("the port is already open") : SerialResult::done();
    }
    if (open) {
        if (const auto failure = openFailure.find(port_); failure != openFailure.end()) {
            return SerialResult::failed(failure->second);
        }
        ++opens;
    } else {
        ++closes;
    }
    open_ = open;
    return SerialResult::done();
}

SerialResult FakeSerial::output(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed("the port is not open");
    }
    writes.emplace_back(bytes);
    return SerialResult::done();
}

std::string FakeSerial::wire() const {
    std::string all;
    for (const auto& w : writes) {
        all += w;
    }
    return all;
}

void FakeSerial::arrive(std::string_view bytes) {
    raiseEvent({CommEvent::Kind::Receive, std::string(bytes)});
}

void FakeSerial::raiseEvent(const CommEvent& event) {
    if (onComm_) {
        onComm_(event);
    }
}

void FakeSerial::loseDevice(bool sameDeviceKnown, const std::string& how) {
    open_ = false;
    raiseEvent({CommEvent::Kind::DeviceLost, how, sameDeviceKnown});
}

void Rig::load() {
    form.Load();
    serial.writes.clear();
    serial.opens = 0;
    serial.closes = 0;
}

}  // namespace pj::test
