// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/form_observer.h"
#include "ctl/options.h"
#include "link/line_log.h"
#include "posix/headless_rig.h"
#include "posix/signal_watch.h"

namespace pj::ctl {

// Types `text` into the command entry and presses "SEND", as the operator would.
void typeAndSend(Form& form, std::string_view text);
// Sends a query the window's way: by its button when the panel has one, else typed in.
void sendQuery(Form& form, const NamedQuery& query);

// One command sent and its answer, as the window showed them.
struct Exchange {
    std::string frame;                   // the bytes written
    std::optional<std::string> reply;    // the bytes received; nothing when none came
    std::string echo;                    // the RXD line: the reply's echo or " X X X X"
    std::optional<std::string> readout;  // the STATUS line; nothing when it shows nothing
    std::optional<std::string> portError;
    // From the frame's going out to the arrival that completed the answer.
    std::optional<double> latencyMs;
};

struct HoldResult {
    int frames = 0;
    std::optional<std::string> portError;
};

// The panel's core on a real port, driven headless: commands go out through the window's
// own buttons and manual entry, and what the window would show comes back through the core's
// observer. Runs the rig's event loop only while it waits for the line.
class Session final : private FormObserver {
  public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() override;

    // Starts the window on `request.port` (the panel's port 1 when empty) and chooses the
    // speed, the address and the reply window. With `log`, the line's traffic from then on is
    // written to it (see LineLog). On failure, says why in one line.
    std::optional<std::string> open(const Request& request, std::ostream* log = nullptr);
    // Chooses another address for the commands that follow.
    void choose(const AddressChoice& address);
    // Whether every line of the log was written; true without a log.
    bool logGood() const { return !log_ || log_->good(); }
    // The device behind port 1, for messages.
    std::string portName() const { return panel_.serial.device(1); }

    // A status query: its button when the panel has one, else typed in and sent.
    Exchange query(const NamedQuery& query);
    // Any command text, typed in and sent.
    Exchange send(std::string_view text);
    // Sends `text` now and every `everyMs` for `forMs`; the core's line pacer holds a repeat
    // back while the line is busy with the frame before.
    HoldResult hold(std::string_view text, int forMs, int everyMs);
    // Lets `ms` pass with the line quiet (a signal ends it early).
    void pause(int ms);

    // Whether SIGTERM, SIGINT or SIGHUP came: the wait under way then ends at once, and what
    // it would have told is not to be taken. Destroying the session ends it as "END" does,
    // the port closed and let go.
    bool interrupted() const { return interruption_.caught(); }

  private:
    void sent(std::string_view frame) override;
    void received(std::string_view bytes, std::string_view echo) override;
    void readout(std::string_view text) override;
    void replyWindowEnded(bool answered) override;
    void portReady() override;
    void portError(std::string_view message) override;

    Exchange exchange(const std::function<void()>& sendIt);
    // Runs the event loop until `done` says so or `giveUpMs` pass.
    void waitFor(const std::function<bool()>& done, int giveUpMs);
    std::string deviceError(std::string_view message) const;

    std::int64_t nowUs() const { return panel_.clock.nowUs(); }

    posix::HeadlessRig panel_;
    std::unique_ptr<LineLog> log_;
    // The least time between an answer and the next command, and when the last answer ended.
    int gapMs_ = 0;
    std::optional<std::int64_t> lastAnswerUs_;
    int giveUpMs_ = 0;
    std::int64_t sentUs_ = 0;
    std::optional<std::int64_t> completedUs_;
    posix::SignalWatch interruption_{
        panel_.loop, {SIGTERM, SIGINT, SIGHUP}, [this] { panel_.loop.quit(); }};
    // What the observer was told since the last exchange began.
    std::string written_;
    std::string received_;
    std::string echo_;
    std::optional<std::string> readout_;
    bool windowEnded_ = false;
    std::optional<std::string> portError_;
    std::function<void()> onNews_;
};

}  // namespace pj::ctl
