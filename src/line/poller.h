// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/timer.h"
#include "line/line_access.h"
#include "line/projector_state.h"

namespace pj::line {

// The frame text of `command` for the projector at `address` (1..4 puts the address prefix
// in front, 0 speaks to the one projector without an address); nothing for another address.
std::optional<std::string> projectorFrame(int address, std::string_view command);

// Gentle polling of the projectors' state: every round (one a `pollSeconds`), each projector
// in turn is asked the status queries of polledQueries(), one query at a time through
// LineAccess::transact, the next only once the last one's answer came. A query is sent only
// while the line is quiet(); otherwise the poller looks again `retryMs` later,
// queueing nothing meanwhile, so it never stands between an operator's repeating button and
// the line. While the line is down, each projector's poll ends at once as not responding,
// so that it shows unavailable within the round. Once a projector's queries are through, its state
// is published if it changed, and the first time.
class Poller {
  public:
    using Publish = std::function<void(int address, const ProjectorState& state)>;

    struct Timing {
        int pollSeconds = 30;
        int retryMs = 1000;  // how soon a poll held back by a busy line looks again
        int windowMs = 500;  // each query's reply window
    };

    // `roundTimer` starts the rounds, `retryTimer` the looks again; both belong to the
    // poller from here on. `addresses` as in MqttSettings::projectors.
    Poller(LineAccess& line, Timer& roundTimer, Timer& retryTimer, std::vector<int> addresses,
           Timing timing, Publish publish);
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    ~Poller();

    // Starts the first round now, then one every pollSeconds.
    void start();
    // Polls the projector at `address` next, ahead of the rest of the round (after a command
    // to it, so its state follows), and publishes its state then even if it is unchanged, so
    // that a selection the projector did not take is shown undone.
    void pollSoon(int address);
    // The last published state of the projector at `address`; nothing before its first.
    const ProjectorState* published(int address) const;

  private:
    void startRound();
    void enqueue(int address, bool ahead);
    void step();
    void answered(const std::optional<std::string>& answer);
    void finishProjector();

    LineAccess& line_;
    Timer& roundTimer_;
    Timer& retryTimer_;
    std::vector<int> addresses_;
    Timing timing_;
    Publish publish_;

    std::deque<int> pending_;                  // projectors still to poll, in order
    std::optional<int> current_;               // the projector being polled
    std::size_t nextQuery_ = 0;                // of current_, the query to send next
    bool inFlight_ = false;                    // a query is waiting for its answer
    ProjectorState working_;                   // current_'s state as this poll finds it
    bool anyAnswer_ = false;                   // current_ answered a query of this poll
    std::map<int, ProjectorState> known_;      // what the polls found, by address
    std::map<int, ProjectorState> published_;  // what was published, by address
    std::set<int> forced_;                     // published after their next poll in any case
    // Shared with the queries in flight, so that an answer after the poller is gone is dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pj::line
