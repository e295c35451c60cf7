// SPDX-License-Identifier: Apache-2.0
#include "line/hub.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace pj::line {
namespace {

constexpr std::string_view kAnswerEnds{"\r\x06", 2};
// A hold asked for with more than this many milliseconds is not understood.
constexpr int kLongestHoldAskedMs = 3600 * 1000;

// "hold" or "hold MS": the hold asked for, 0 for the hub's own when no time is given.
std::optional<int> parseHold(std::string_view text) {
    const auto ms = wire::messageArgument(text, wire::kHold);
    if (!ms) {
        return std::nullopt;
    }
    if (ms->empty()) {
        return 0;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(ms->data(), ms->data() + ms->size(), value);
    if (error != std::errc{} || end != ms->data() + ms->size() || value < 1 ||
        value > kLongestHoldAskedMs) {
        return std::nullopt;
    }
    return value;
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
    if (found == clients_.end() || found->second.done) {
        return;
    }
    Client& client = found->second;
    if (client.speaks == Speaks::Unknown) {
        client.opening.append(bytes);
        switch (wire::checkHello(client.opening)) {
            case wire::HelloCheck::Partial:
                return;
            case wire::HelloCheck::NotHello:
                client.speaks = Speaks::Raw;
                takeBytes(id, client, std::exchange(client.opening, {}));
                return;
            case wire::HelloCheck::Complete:
                break;
        }
        client.speaks = Speaks::Records;
        const std::string after = client.opening.substr(wire::kHelloSize);
        client.opening.resize(wire::kHelloSize);
        // The greeting: the client's own hello, which nothing on the line has seen.
        client.link->deliver(std::exchange(client.opening, {}));
        if (!after.empty()) {
            fromClient(id, after);
        }
        return;
    }
    if (client.speaks == Speaks::Raw) {
        takeBytes(id, client, bytes);
        return;
    }
    std::vector<wire::Record> records;
    const bool whole = client.records.take(bytes, records);
    for (const wire::Record& record : records) {
        if (record.type == wire::RecordType::Data) {
            takeBytes(id, client, record.payload);
        } else {
            takeMessage(id, client, record.payload);
        }
        if (!clients_.contains(id) || client.done) {
            return;
        }
    }
    if (!whole) {
        log_(client.name + " is let go: it broke the records");
        client.done = true;
        std::erase_if(queue_, [id](const Pending& p) { return p.client == id; });
        std::exchange(client.link, nullptr)->finish("it broke the records");
    }
}

void Hub::takeBytes(ClientId id, Client& client, std::string_view bytes) {
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

void Hub::clientDone(ClientId id) {
    const auto found = clients_.find(id);
    if (found == clients_.end() || found->second.done) {
        return;
    }
    Client& client = found->second;
    client.done = true;
    client.partial.clear();
    letDoneClientsGo();
}

void Hub::letDoneClientsGo() {
    for (auto& [id, client] : clients_) {
        const bool inFlight = inFlight_ && inFlight_->pending.client == id;
        if (client.done && !inFlight && queuedFor(id) == 0 && client.link != nullptr) {
            // Told once: the link closes the connection on a later turn and detaches it.
            client.link->finish("it sent no more and was answered");
            client.link = nullptr;
        }
    }
}

void Hub::takeFrame(ClientId id, Client& client, std::string frame) {
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
    if (const auto hold = parseHold(text)) {
        // Never longer than a reply window: a frame nobody answers must not keep the line.
        client.holdMs = std::min(*hold == 0 ? settings_.holdMs : *hold, settings_.longestHoldMs);
        // From here on the client hears only its own answers: what it heard before this
        // word is others' traffic, and it may drop it.
        tell(client, wire::kHeld);
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
    tell(client, wire::kRefused, reason);
}

void Hub::tell(Client& client, std::string_view word, std::string_view rest) {
    if (client.speaks == Speaks::Records && client.link != nullptr) {
        client.link->deliver(wire::message(word, rest));
    }
}

void Hub::hear(Client& client, std::string_view bytes) {
    if (client.link == nullptr || bytes.empty()) {
        return;
    }
    client.link->deliver(client.speaks == Speaks::Records ? wire::dataRecord(bytes)
                                                          : std::string(bytes));
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

std::deque<Hub::Pending>::iterator Hub::next() {
    const auto oldest = queue_.begin();
    if (!turn_ || oldest->client != turn_->client ||
        clock_.nowUs() - turn_->sinceUs < std::int64_t{settings_.turnMs} * 1000) {
        return oldest;
    }
    // The turn is over: another's oldest frame goes first, if one waits.
    const auto others = std::find_if(queue_.begin(), queue_.end(),
                                     [&](const Pending& p) { return p.client != turn_->client; });
    return others != queue_.end() ? others : oldest;
}

void Hub::pump() {
    while (!inFlight_ && line_ != nullptr && !queue_.empty()) {
        const auto chosen = next();
        Pending pending = std::move(*chosen);
        queue_.erase(chosen);
        if (!turn_ || turn_->client != pending.client) {
            turn_ = Turn{pending.client, clock_.nowUs()};
        }
        if (!line_->write(pending.frame)) {
            if (pending.client) {
                if (const auto found = clients_.find(*pending.client); found != clients_.end()) {
                    refuse(found->second, "the device did not take it");
                }
            } else {
                defer_([answer = std::move(pending.answer)] { answer(std::nullopt); });
            }
            continue;
        }
        const int windowMs = pending.windowMs;
        if (pending.client) {
            if (const auto found = clients_.find(*pending.client);
                found != clients_.end() && found->second.holdMs) {
                // A holder's reply window starts now, not when it sent the frame.
                tell(found->second, wire::kSent);
            }
        }
        inFlight_ = InFlight{std::move(pending), {}};
        window_.setInterval(windowMs);
        window_.setEnabled(true);
    }
    if (!inFlight_ && queue_.empty()) {
        // A turn is frames in a row; the line resting ends it.
        turn_.reset();
    }
    letDoneClientsGo();
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
            hear(client, bytes);
        } else if (answered == id) {
            hear(client, answer);
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
            tell(client, wire::kBack);
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
        tell(client, wire::kLost, reason);
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
