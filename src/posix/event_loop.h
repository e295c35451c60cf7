// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace pj::posix {

class LoopTimer;

// The program's event loop on poll(2): descriptors watched for readiness, the timers of its
// LoopTimers, and calls deferred to the next turn. run() turns it until quit(); it is not
// reentrant. Everything runs on the thread that calls run().
class EventLoop {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using WatchId = std::uint64_t;
    // Called with the poll(2) events that came (POLLIN, POLLOUT, POLLHUP, POLLERR...).
    using ReadyHandler = std::function<void(short revents)>;

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
    ~EventLoop();

    // Watches `fd` for `events` until unwatch(); the handler may unwatch any watch.
    WatchId watch(int fd, short events, ReadyHandler handler);
    void setEvents(WatchId id, short events);
    void unwatch(WatchId id);

    // Runs `call` on a later turn, after every call posted before it; cancelPosted() drops
    // the calls still waiting that were posted for `owner`.
    void post(const void* owner, std::function<void()> call);
    void cancelPosted(const void* owner);

    // Turns the loop until quit() is called from one of its handlers: what is still due
    // then waits for the next run().
    void run();
    void quit() { quit_ = true; }

    static TimePoint now() { return std::chrono::steady_clock::now(); }

  private:
    friend class LoopTimer;
    void addTimer(LoopTimer* timer);
    void removeTimer(LoopTimer* timer);

    struct Watch {
        WatchId id;
        int fd;
        short events;
        ReadyHandler handler;
    };
    struct Posted {
        const void* owner;
        std::function<void()> call;
    };

    void turn();
    int pollTimeoutMs() const;
    void runPosted();
    void dispatchReady();
    void fireDueTimers();
    const Watch* findWatch(WatchId id) const;

    std::vector<Watch> watches_;
    WatchId nextWatch_ = 1;
    std::deque<Posted> posted_;
    // Of posted_'s front, the calls this turn runs; those posted meanwhile wait for the next.
    std::size_t postedThisTurn_ = 0;
    std::vector<LoopTimer*> timers_;
    bool quit_ = false;
    // What the last poll(2) found, by watch.
    std::vector<std::pair<WatchId, short>> ready_;
};

}  // namespace pj::posix
