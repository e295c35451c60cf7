// SPDX-License-Identifier: Apache-2.0
#include "line/hub.h"

#include <charconv>
#include <utility>

namespace pj::line {
namespace {

constexpr char kMessageStart = '\0';
constexpr int kLongestHoldMs = 60000;
constexpr std::string_view kAnswerEnds{"\r\x06", 2};

std::string message(std::string_view text) {
    std::string out(1, kMessageStart);
    out += text;
    out += '\r';
    return out;
}

// "hold" or "hold MS": the hold asked for, 0 for the hub's own when no time is given.
std::optional<int> parseHold(std::string_view text) {
    constexpr std::string_view kHold = "hold";
    if (text.substr(0, kHold.size()) != kHold) {
        return std::nullopt;
    }
    text.remove_prefix(kHold.size());
    if (text.empty()) {
        return 0;
    }
    if (text.front() != ' ') {
        return std::nullopt;
    }
    text.remove_prefix(1);
    int ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc{} || end != text.data() + text.size() || ms < 1 || ms > kLongestHoldMs) {
        return std::nullopt;
    }
    return ms;
}

}  // namespace

Hub::Hub(HubSettings settings, Timer& window, const Clock& clock, Defer defer, Log log)
    : settings_(settings),
      window_(window),
      clock_(clock),
      defer_(std::move(defer)),
      log_(std::move(log)) {
    window_.setOnTimer([this] { settled(); });
}

Hub::~Hub() {
    window_.setEnabled(false);
}

Hub::ClientId Hub::attach(ClientLink& link, std::string name) {
    const ClientId id = nextClient_++;
    log_(name + " connected");
    Client client;
    client.link = &link;
    client.name = std::move(name);
    clients_.emplace(id, std::move(client));
    return id;
}

void Hub::detach(ClientId id, std::string_view why) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    log_(found->second.name + " went away" + (why.empty() ? "" : ": " + std::string(why)));
    std::erase_if(queue_, [id](const Pending& p) { return p.client == id; });
    clients_.erase(found);
}

void Hub::fromClient(ClientId id, std::string_view bytes) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    Client& client = found->second;
    for (const char c : bytes) {
        const bool lfAfterCr = c == '\n' && client.afterCr;
        client.afterCr = c == '\r';
        if (lfAfterCr) {
            continue;
        }
        if (c == '\r' || c == '\n') {
            if (client.overlong) {
                client.overlong = false;
                refuse(client, "frame longer than " + std::to_string(settings_.maxFrame));
            } else {
                takeFrame(id, client, std::exchange(client.partial, {}));
            }
            // A message may have told the hub to let the client go.
            if (!clients_.contains(id)) {
                return;
            }
            continue;
        }
        if (client.overlong) {
            continue;
        }
        if (client.partial.size() == settings_.maxFrame) {
            client.partial.clear();
            client.overlong = true;
            continue;
        }
        client.partial += c;
    }
}

void Hub::takeFrame(ClientId id, Client& client, std::string frame) {
    if (!frame.empty() && frame.front() == kMessageStart) {
        takeMessage(id, client, std::string_view(frame).substr(1));
        return;
    }
    lastClientFrameUs_ = clock_.nowUs();
    if (line_ == nullptr) {
        refuse(client, "the line is down");
        return;
    }
    if (queuedFor(id) >= settings_.maxQueuedPerClient) {
        refuse(client, "too many frames waiting");
        return;
    }
    client.lastRefusal.clear();
    frame += '\r';
    queue_.push_back({id, std::move(frame), client.holdMs.value_or(settings_.settleMs), {}});
    pump();
}

void Hub::takeMessage(ClientId, Client& client, std::string_view text) {
    client.talks = true;
    if (const auto hold = parseHold(text)) {
        client.holdMs = *hold == 0 ? settings_.holdMs : *hold;
        // From here on the client hears only its own answers: what it heard before this
        // word is others' traffic, and it may drop it.
        tell(client, "held");
        return;
    }
    refuse(client, "unknown message");
}

void Hub::refuse(Client& client, std::string_view reason) {
    // A held button on a line that is down would fill the log with the same line.
    if (client.lastRefusal != reason) {
        client.lastRefusal = reason;
        log_(client.name + ": not sent: " + client.lastRefusal);
    }
    tell(client, "refused " + std::string(reason));
}

void Hub::tell(Client& client, std::string_view text) {
    if (client.talks) {
        client.link->deliver(message(text));
    }
}

std::size_t Hub::queuedFor(ClientId id) const {
    std::size_t n = 0;
    for (const Pending& p : queue_) {
        n += p.client == id ? 1 : 0;
    }
    return n;
}

void Hub::transact(std::string frame, int windowMs, Answer answer) {
    if (line_ == nullptr) {
        defer_([answer = std::move(answer)] { answer(std::nullopt); });
        return;
    }
    frame += '\r';
    queue_.push_back({std::nullopt, std::move(frame), windowMs, std::move(answer)});
    pump();
}

bool Hub::quiet() const {
    return !lastClientFrameUs_ ||
           clock_.nowUs() - *lastClientFrameUs_ >= std::int64_t{settings_.quietMs} * 1000;
}

void Hub::pump() {
    while (!inFlight_ && line_ != nullptr && !queue_.empty()) {
        Pending next = std::move(queue_.front());
        queue_.pop_front();
        if (!line_->write(next.frame)) {
            if (next.client) {
                if (const auto found = clients_.find(*next.client); found != clients_.end()) {
                    refuse(found->second, "the device did not take it");
                }
            } else {
                defer_([answer = std::move(next.answer)] { answer(std::nullopt); });
            }
            continue;
        }
        const int windowMs = next.windowMs;
        inFlight_ = InFlight{std::move(next), {}};
        window_.setInterval(windowMs);
        window_.setEnabled(true);
    }
}

void Hub::settled() {
    window_.setEnabled(false);
    finish(std::nullopt);
}

void Hub::finish(std::optional<std::string> answer) {
    if (!inFlight_) {
        return;
    }
    window_.setEnabled(false);
    Answer done = std::move(inFlight_->pending.answer);
    inFlight_.reset();
    if (done) {
        defer_([done = std::move(done), answer = std::move(answer)] { done(answer); });
    }
    pump();
}

void Hub::fromLine(std::string_view bytes) {
    // A command is answered by an ACK, a query by its reply up to a carriage return.
    const auto end = inFlight_ ? bytes.find_first_of(kAnswerEnds) : std::string_view::npos;
    const std::string_view answer = bytes.substr(0, end == bytes.npos ? bytes.size() : end + 1);
    // Client ids start at 1: 0 is none, or the hub's own query.
    const ClientId answered = inFlight_ ? inFlight_->pending.client.value_or(0) : 0;
    // Every client hears the line, but for one that holds it, which hears the answers to its
    // own frames only. A link that lets its client go does so later, not here.
    for (auto& [id, client] : clients_) {
        if (!client.holdMs) {
            client.link->deliver(bytes);
        } else if (answered == id) {
            client.link->deliver(answer);
        }
    }
    if (!inFlight_) {
        return;
    }
    inFlight_->answer += answer;
    if (end != std::string_view::npos) {
        finish(std::move(inFlight_->answer));
    }
}

void Hub::lineOpened(LineLink& line) {
    const bool wasDown = line_ == nullptr;
    line_ = &line;
    if (wasDown) {
        for (auto& [id, client] : clients_) {
            tell(client, "back");
        }
    }
    pump();
}

void Hub::lineLost(std::string_view reason) {
    if (line_ == nullptr) {
        return;
    }
    line_ = nullptr;
    log_("the line went away: " + std::string(reason));
    for (auto& [id, client] : clients_) {
        tell(client, "lost " + std::string(reason));
    }
    std::deque<Pending> waiting = std::exchange(queue_, {});
    for (Pending& p : waiting) {
        if (p.client) {
            if (const auto found = clients_.find(*p.client); found != clients_.end()) {
                refuse(found->second, "the line is down");
            }
        } else {
            defer_([answer = std::move(p.answer)] { answer(std::nullopt); });
        }
    }
    finish(std::nullopt);
}

}  // namespace pj::line
