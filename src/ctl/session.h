// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/form_observer.h"
#include "ctl/options.h"
#include "link/line_log.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/posix_serial_control.h"
#include "posix/signal_watch.h"
#include "projector/line_session.h"

namespace pj::ctl {

// One command sent and its answer.
using Exchange = LineResult;
using HoldResult = LineSession::HoldResult;

// The line session on a real port, on pjctl's event loop: commands by name or as typed text,
// the address as a number, answers as the window would show them and as values. Runs the loop
// only while it waits for the line.
class Session final : private FormObserver {
  public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() override;

    // Opens `request.port` (the panel's port 1 when empty) at the request's speed and chooses
    // its address and reply window. With `log`, the line's traffic from then on is written to
    // it (see LineLog). On failure, says why in one line.
    std::optional<std::string> open(const Request& request, std::ostream* log = nullptr);
    // Chooses another address for the commands that follow.
    void choose(const AddressOption& address);
    // Whether every line of the log was written; true without a log.
    bool logGood() const { return !log_ || log_->good(); }
    // The device behind port 1, for messages.
    std::string portName() const { return serial_.device(1); }

    // A status query.
    Exchange query(const StatusQuery& query);
    // A command by name.
    Exchange send(const Command& command);
    // Any command text, as typed into the window's command entry.
    Exchange send(std::string_view text);
    // Sends `text` now and every `everyMs` for `forMs`; a repeat waits while the line is busy
    // with the frame before.
    HoldResult hold(std::string_view text, int forMs, int everyMs);
    // Lets `ms` pass with the line quiet (a signal ends it early).
    void pause(int ms);

    // Whether SIGTERM, SIGINT or SIGHUP came: the wait under way then ends at once, and what
    // it would have told is not to be taken. Destroying the session closes the port.
    bool interrupted() const { return interruption_.caught(); }

  private:
    void portReady() override;
    void portError(std::string_view message) override;

    Exchange exchange(const std::function<void(LineSession::Done)>& sendIt);
    // Runs the event loop until `done` says so or `giveUpMs` pass.
    void waitFor(const std::function<bool()>& done, int giveUpMs);
    std::string deviceError(std::string_view message) const;

    std::int64_t nowUs() const { return clock_.nowUs(); }

    posix::EventLoop loop_;
    posix::PosixSerialControl serial_{loop_};
    posix::LoopTimer replyWindow_{loop_};
    posix::LoopTimer pacer_{loop_};
    posix::LoopTimer repeat_{loop_};
    posix::LoopTimer release_{loop_};
    posix::MonotonicClock clock_;
    LineSession line_{serial_, {replyWindow_, pacer_, repeat_, release_}, clock_};
    std::unique_ptr<LineLog> log_;
    // The least time between an answer and the next command, and when the last answer ended.
    int gapMs_ = 0;
    std::optional<std::int64_t> lastAnswerUs_;
    int giveUpMs_ = 0;
    posix::SignalWatch interruption_{loop_, {SIGTERM, SIGINT, SIGHUP}, [this] { loop_.quit(); }};
    std::optional<std::string> portError_;
    bool ready_ = false;
    std::function<void()> onNews_;
};

}  // namespace pj::ctl
