// SPDX-License-Identifier: Apache-2.0
#include "posix/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <tuple>

#include "posix/loop_timer.h"

namespace pj::posix {

EventLoop::~EventLoop() = default;

EventLoop::WatchId EventLoop::watch(int fd, short events, ReadyHandler handler) {
    const WatchId id = nextWatch_++;
    watches_.push_back({id, fd, events, std::move(handler)});
    return id;
}

void EventLoop::setEvents(WatchId id, short events) {
    for (Watch& w : watches_) {
        if (w.id == id) {
            w.events = events;
        }
    }
}

void EventLoop::unwatch(WatchId id) {
    std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
}

const EventLoop::Watch* EventLoop::findWatch(WatchId id) const {
    const auto it =
        std::find_if(watches_.begin(), watches_.end(), [id](const Watch& w) { return w.id == id; });
    return it == watches_.end() ? nullptr : &*it;
}

void EventLoop::post(const void* owner, std::function<void()> call) {
    posted_.push_back({owner, std::move(call)});
}

void EventLoop::cancelPosted(const void* owner) {
    for (std::size_t i = 0; i < posted_.size();) {
        if (posted_[i].owner != owner) {
            ++i;
            continue;
        }
        if (i < postedThisTurn_) {
            --postedThisTurn_;
        }
        posted_.erase(posted_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void EventLoop::addTimer(LoopTimer* timer) {
    timers_.push_back(timer);
}

void EventLoop::removeTimer(LoopTimer* timer) {
    std::erase(timers_, timer);
}

void EventLoop::run() {
    quit_ = false;
    while (!quit_) {
        turn();
    }
}

void EventLoop::turn() {
    runPosted();
    if (quit_) {
        return;
    }
    std::vector<pollfd> fds;
    fds.reserve(watches_.size());
    for (const Watch& w : watches_) {
        fds.push_back({w.fd, w.events, 0});
    }
    const int count = ::poll(fds.data(), fds.size(), pollTimeoutMs());
    ready_.clear();
    if (count > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                ready_.emplace_back(watches_[i].id, fds[i].revents);
            }
        }
    }
    dispatchReady();
    if (!quit_) {
        fireDueTimers();
    }
}

int EventLoop::pollTimeoutMs() const {
    if (!posted_.empty()) {
        return 0;
    }
    const LoopTimer* next = nullptr;
    for (const LoopTimer* t : timers_) {
        if (t->enabled() && (next == nullptr || t->due() < next->due())) {
            next = t;
        }
    }
    if (next == nullptr) {
        return -1;
    }
    const auto wait = next->due() - now();
    if (wait <= wait.zero()) {
        return 0;
    }
    // Rounded up, so that a timer is never found early and waited for a second time.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void EventLoop::runPosted() {
    postedThisTurn_ = posted_.size();
    while (postedThisTurn_ > 0 && !quit_) {
        Posted next = std::move(posted_.front());
        posted_.pop_front();
        --postedThisTurn_;
        next.call();
    }
}

void EventLoop::dispatchReady() {
    for (const auto& [id, revents] : ready_) {
        if (quit_) {
            return;
        }
        // A handler may unwatch this watch or others, so each is looked up as it comes.
        const Watch* w = findWatch(id);
        if (w == nullptr) {
            continue;
        }
        const ReadyHandler handler = w->handler;
        handler(revents);
    }
}

void EventLoop::fireDueTimers() {
    const TimePoint at = now();
    // Earliest first; a handler may stop, restart or destroy the timers after it.
    std::vector<std::tuple<TimePoint, std::uint64_t, LoopTimer*>> due;
    for (LoopTimer* t : timers_) {
        if (t->enabled() && t->due() <= at) {
            due.emplace_back(t->due(), t->serial(), t);
        }
    }
    std::sort(due.begin(), due.end());
    for (const auto& [when, serial, timer] : due) {
        if (quit_) {
            return;
        }
        const auto live = std::find(timers_.begin(), timers_.end(), timer);
        if (live == timers_.end() || (*live)->serial() != serial || !timer->enabled() ||
            timer->due() > at) {
            continue;
        }
        timer->fire(at);
    }
}

}  // namespace pj::posix
