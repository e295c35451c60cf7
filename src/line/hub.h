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

#include "app/clock.h"
#include "app/timer.h"
#include "line/line_access.h"

namespace pj::line {

// How the hub paces the line.
struct HubSettings {
    // A frame is written once the answer to the one before it ended, or this long after it.
    int settleMs = 300;
    // How long a client that asked to hold the line keeps it for each of its frames, at most.
    int holdMs = 2000;
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
// the line brings goes to every client, as on the multi-drop bus itself.
//
// A line from a client that begins with a NUL byte is a message to the hub, not a frame:
// "\0hold" or "\0hold MS" makes the client's frames hold the line until their answer or for
// the hold time, and the client hears only the answers to its own frames (from the frame's
// writing to its answer's end), so that what it reads is its own; the hub answers "\0held",
// after which the client hears nothing but its answers. A client that has sent a
// message is told, in messages of the same form, when the line goes away ("\0lost REASON"),
// comes back ("\0back") and when one of its frames is not written ("\0refused REASON");
// other clients see only the line's bytes.
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
    struct Client {
        ClientLink* link = nullptr;
        std::string name;
        std::string partial;    // bytes after the last frame's end
        bool overlong = false;  // the partial frame passed the longest frame: skipped to its end
        bool afterCr = false;   // the last byte taken was a carriage return
        bool talks = false;     // has sent a message, so is told in messages too
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

    void takeFrame(ClientId id, Client& client, std::string frame);
    void takeMessage(ClientId id, Client& client, std::string_view message);
    void refuse(Client& client, std::string_view reason);
    void tell(Client& client, std::string_view message);
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
};

}  // namespace pj::line
