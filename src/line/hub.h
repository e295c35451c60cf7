// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/timer.h"
#include "line/line_access.h"
#include "link/line_wire.h"

namespace pj::line {

// How the hub paces the line.
struct HubSettings {
    // A frame is written once the answer to the one before it ended, or this long after it.
    int settleMs = 300;
    // How long a client that asked to hold the line keeps it for each of its frames, at most.
    int holdMs = 2000;
    // The longest hold a client may ask for, or the hold above may be set to: a reply window.
    int longestHoldMs = 3000;
    // A client's frames keep the line this long in a row, at most, while frames of others
    // wait; then the oldest of another's goes next.
    int turnMs = 3000;
    // The line is quiet once no client has sent a frame for this long.
    int quietMs = 3000;
    // The longest frame a client may send, its carriage return not counted.
    std::size_t maxFrame = 1024;
    // Frames of one client waiting for the line, at most; more are refused.
    std::size_t maxQueuedPerClient = 16;
};

// A client's connection as the hub sees it; the server keeps the socket.
class ClientLink {
  public:
    virtual ~ClientLink() = default;
    // Hands the client bytes to read. The link bounds what the client has not read yet and
    // lets a client go that falls too far behind; the hub never waits for one.
    virtual void deliver(std::string_view bytes) = 0;
    // The hub is done with the client: what it was handed goes out, then the connection is
    // closed. Acted on later, never inside the call.
    virtual void finish(std::string why) = 0;
};

// The line's side as the hub sees it: the open device.
class LineLink {
  public:
    virtual ~LineLink() = default;
    // Writes a whole frame; false when the device would not take it.
    virtual bool write(std::string_view frame) = 0;
};

// One line shared by many clients. Each client's bytes are cut into frames at their carriage
// return (a line feed ends a frame too, and one right after a carriage return is dropped, so
// that clients typing lines work); frames wait in one queue in the order they were completed
// and are written one at a time, each once the line has settled after the one before: its
// answer came (an ACK, or a reply up to its carriage return), or its window passed. Whatever
// the line brings goes to every client, as on the multi-drop bus itself. No client keeps the
// line for long: a frame holds it for a reply window at most, and a client whose frames have
// had it for the turn while others' wait gives way to the oldest of theirs.
//
// A raw client hears the line's bytes exactly and nothing else. A client that opens with the
// hello (link/line_wire.h) is answered with the greeting, and from then on speaks in records
// both ways: its data records are cut into frames as a raw client's bytes are, its messages
// are for the hub. "hold" or "hold MS" makes its frames hold the line until their answer or
// for the hold time, and it hears only the answers to its own frames (from the frame's
// writing to its answer's end), so that what it reads is its own; the hub answers "held",
// after which it hears nothing but its answers, and "sent" as each of its frames goes out.
// Such a client is told when the line goes away ("lost REASON"), comes back ("back") and
// when one of its frames is not written ("refused REASON").
//
// A client that has said it will send no more (closed its writing side) still has what it
// sent written and answered; then the hub lets it go.
class Hub final : public LineAccess {
  public:
    using ClientId = std::uint64_t;
    using Log = std::function<void(std::string_view line)>;
    // Runs a call on a later turn of the program's loop.
    using Defer = std::function<void(std::function<void()>)>;

    Hub(HubSettings settings, Timer& window, const Clock& clock, Defer defer, Log log);
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;
    ~Hub() override;

    ClientId attach(ClientLink& link, std::string name);
    // The client's frames still waiting are dropped; a frame of its own in flight finishes.
    // `why` goes to the log.
    void detach(ClientId client, std::string_view why = {});
    void fromClient(ClientId client, std::string_view bytes);
    // The client will send no more: a frame it did not end is dropped, the rest is written
    // and answered, and then the client's link is told to finish.
    void clientDone(ClientId client);

    void lineOpened(LineLink& line);
    // Frames waiting are refused, a frame in flight ends unanswered.
    void lineLost(std::string_view reason);
    void fromLine(std::string_view bytes);

    std::size_t clientCount() const { return clients_.size(); }
    std::size_t queued() const { return queue_.size(); }

    // LineAccess, for the server's own queries.
    void transact(std::string frame, int windowMs, Answer answer) override;
    bool quiet() const override;
    bool lineUp() const override { return line_ != nullptr; }

  private:
    enum class Speaks { Unknown, Raw, Records };
    struct Client {
        ClientLink* link = nullptr;
        std::string name;
        Speaks speaks = Speaks::Unknown;
        std::string opening;  // the first bytes, while they may be the hello
        wire::RecordReader records;
        bool done = false;      // sends no more
        std::string partial;    // bytes after the last frame's end
        bool overlong = false;  // the partial frame passed the longest frame: skipped to its end
        bool afterCr = false;   // the last byte taken was a carriage return
        std::optional<int> holdMs;
        std::string lastRefusal;  // logged once until another comes
    };
    struct Pending {
        std::optional<ClientId> client;  // none: the hub's own query
        std::string frame;               // with its carriage return
        int windowMs;
        Answer answer;
    };
    struct InFlight {
        Pending pending;
        std::string answer;
    };

    void takeBytes(ClientId id, Client& client, std::string_view bytes);
    void takeFrame(ClientId id, Client& client, std::string frame);
    void takeMessage(ClientId id, Client& client, std::string_view message);
    void refuse(Client& client, std::string_view reason);
    void tell(Client& client, std::string_view word, std::string_view rest = {});
    void hear(Client& client, std::string_view bytes);
    void letDoneClientsGo();
    std::deque<Pending>::iterator next();
    void pump();
    void finish(std::optional<std::string> answer);
    void settled();
    std::size_t queuedFor(ClientId id) const;

    HubSettings settings_;
    Timer& window_;
    const Clock& clock_;
    Defer defer_;
    Log log_;
    std::map<ClientId, Client> clients_;
    ClientId nextClient_ = 1;
    std::deque<Pending> queue_;
    std::optional<InFlight> inFlight_;
    LineLink* line_ = nullptr;
    std::optional<std::int64_t> lastClientFrameUs_;
    // Whose frames have had the line in a row, and since when.
    struct Turn {
        std::optional<ClientId> client;
        std::int64_t sinceUs;
    };
    std::optional<Turn> turn_;
};

}  // namespace pj::line
