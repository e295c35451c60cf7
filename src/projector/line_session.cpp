// SPDX-License-Identifier: Apache-2.0
#include "projector/line_session.h"

#include <utility>

#include "protocol/echo.h"
#include "protocol/frame.h"
#include "protocol/reply.h"
#include "status/decode.h"
#include "status/queries.h"

namespace pj {

namespace {

constexpr char kAck = '\x06';

// A projector answers a command with a line ending in a carriage return, or with an ACK.
bool answerComplete(std::string_view received) {
    return !received.empty() && (received.back() == kCarriageReturn || received.back() == kAck);
}

const StatusQuery* queryOf(std::string_view text) {
    for (const StatusQuery& query : kStatusQueries) {
        if (query.command == text) {
            return &query;
        }
    }
    return nullptr;
}

}  // namespace

LineSession::LineSession(SerialControl& serial, Timers timers, const Clock& clock)
    : serial_(serial), timers_(timers), clock_(clock), pacer_(timers.pacer, clock) {
    serial_.setOnComm([this](const CommEvent& event) { onComm(event); });
    timers_.replyWindow.setEnabled(false);
    timers_.replyWindow.setOnTimer([this] { finish(); });
    timers_.repeat.setEnabled(false);
    timers_.repeat.setOnTimer([this] { pacer_.due([this] { sendHeld(); }); });
    timers_.release.setEnabled(false);
    timers_.release.setOnTimer([this] { endHold(); });
}

LineSession::~LineSession() {
    cancel();
    serial_.setOnComm({});
    timers_.replyWindow.setOnTimer({});
    timers_.repeat.setOnTimer({});
    timers_.release.setOnTimer({});
}

SerialResult LineSession::open(std::string_view settings) {
    pacer_.setLineSettings(settings);
    if (const SerialResult r = serial_.setCommPort(1); r.failed()) {
        return r;
    }
    if (const SerialResult r = serial_.setSettings(settings); r.failed()) {
        return r;
    }
    return serial_.setPortOpen(true);
}

void LineSession::close() {
    cancel();
    if (serial_.portOpen()) {
        static_cast<void>(serial_.setPortOpen(false));
    }
}

bool LineSession::setAddress(int number) {
    const AddressOption* address = findAddress(number);
    if (address == nullptr) {
        return false;
    }
    prefix_ = address->prefix;
    return true;
}

void LineSession::send(const Command& command, Done done) {
    start(command.text, command.replyWindowMs, std::move(done));
}

void LineSession::sendText(std::string_view text, Done done) {
    start(text, kTypedReplyWindow, std::move(done));
}

void LineSession::start(std::string_view text, int replyWindowMs, Done done) {
    cancel();
    result_ = LineResult{};
    rxBuffer_.clear();
    const std::string frame = buildFrame(prefix_, text);
    if (!writeFrame(frame)) {
        const LineResult failed = std::move(result_);
        if (done) {
            done(failed);
        }
        return;
    }
    result_.frame = frame;
    busy_ = true;
    done_ = std::move(done);
    sentUs_ = clock_.nowUs();
    timers_.replyWindow.setInterval(fixedReplyWindow_.value_or(replyWindowMs));
    timers_.replyWindow.setEnabled(!waitingForLine_);
}

bool LineSession::writeFrame(const std::string& frame) {
    const SerialResult r = serial_.output(frame);
    if (r.failed()) {
        result_.portError = r.error();
        if (observer_ != nullptr) {
            observer_->portError(r.error());
        }
        return false;
    }
    waitingForLine_ = r.outcome() == SerialResult::Outcome::UnderWay;
    pacer_.written(frame.size());
    if (observer_ != nullptr) {
        observer_->sent(frame);
    }
    return true;
}

void LineSession::onComm(const CommEvent& event) {
    switch (event.kind) {
        case CommEvent::Kind::Receive:
            received(event.data);
            break;
        case CommEvent::Kind::DeviceLost:
            portFailed(event.data.empty() ? std::string("the device went away") : event.data);
            break;
        case CommEvent::Kind::Opened:
            if (observer_ != nullptr) {
                observer_->portReady();
            }
            break;
        case CommEvent::Kind::OpenFailed:
            if (observer_ != nullptr) {
                observer_->portError(event.data);
            }
            break;
        case CommEvent::Kind::LineError:
            break;
        case CommEvent::Kind::Written:
            if (busy_ && waitingForLine_) {
                sentUs_ = clock_.nowUs();
                timers_.replyWindow.setEnabled(true);
            }
            waitingForLine_ = false;
            break;
    }
}

void LineSession::received(std::string_view bytes) {
    if (!busy_) {
        if (observer_ != nullptr) {
            observer_->received(bytes, echoText(bytes));
        }
        return;
    }
    // As the window keeps and decodes its receive buffer: the newest characters, decoded
    // anew on each arrival, a readout kept until another replaces it.
    rxBuffer_ += bytes;
    if (rxBuffer_.size() > kRxBufferCap) {
        rxBuffer_.erase(0, rxBuffer_.size() - kRxBufferCap);
    }
    if (!result_.reply) {
        result_.reply.emplace();
    }
    std::string& reply = *result_.reply;
    const std::size_t room = kLongestReplyKept - std::min(reply.size(), kLongestReplyKept);
    reply.append(bytes.substr(0, room));
    result_.replyBeyond += bytes.size() - std::min(bytes.size(), room);
    result_.echo = echoText(rxBuffer_);
    std::int16_t pressure = 0;
    if (auto readout = decodeStatus(result_.frame, prefix_, result_.echo, pressure)) {
        if (observer_ != nullptr) {
            observer_->readout(*readout);
        }
        result_.readout = std::move(readout);
    }
    if (observer_ != nullptr) {
        observer_->received(bytes, result_.echo);
    }
    if (answerComplete(bytes)) {
        result_.latencyMs = static_cast<double>(clock_.nowUs() - sentUs_) / 1000.0;
        finish();
    }
}

void LineSession::finish() {
    if (!busy_) {
        return;
    }
    busy_ = false;
    timers_.replyWindow.setEnabled(false);
    const bool answered = result_.reply.has_value();
    if (!answered) {
        result_.echo = kNoReplyMark;
    }
    const std::string_view text =
        std::string_view(result_.frame)
            .substr(prefix_.size(), result_.frame.size() - prefix_.size() - 1);
    if (const StatusQuery* query = queryOf(text); query != nullptr && answered) {
        result_.value = query->value(rxBuffer_);
    }
    if (observer_ != nullptr) {
        observer_->replyWindowEnded(answered);
    }
    Done done = std::move(done_);
    done_ = nullptr;
    if (done) {
        done(result_);
    }
}

void LineSession::portFailed(const std::string& message) {
    if (observer_ != nullptr) {
        observer_->portError(message);
    }
    if (busy_) {
        result_.portError = message;
        finish();
    }
    if (holdDone_) {
        held_.portError = message;
        endHold();
    }
}

void LineSession::hold(std::string_view text, int forMs, int everyMs,
                       std::function<void(HoldResult)> done) {
    cancel();
    held_ = HoldResult{};
    heldFrame_ = buildFrame(prefix_, text);
    holdDone_ = std::move(done);
    sendHeld();
    if (!holdDone_) {
        return;  // the first frame could not go: the hold has ended
    }
    timers_.repeat.setInterval(everyMs);
    timers_.repeat.setEnabled(true);
    timers_.release.setInterval(forMs);
    timers_.release.setEnabled(true);
}

void LineSession::sendHeld() {
    if (!holdDone_) {
        return;
    }
    if (!writeFrame(heldFrame_)) {
        held_.portError = result_.portError;
        endHold();
        return;
    }
    ++held_.frames;
}

void LineSession::endHold() {
    timers_.repeat.setEnabled(false);
    timers_.release.setEnabled(false);
    pacer_.cancel();
    auto done = std::move(holdDone_);
    holdDone_ = nullptr;
    if (done) {
        done(held_);
    }
}

void LineSession::cancel() {
    busy_ = false;
    waitingForLine_ = false;
    done_ = nullptr;
    holdDone_ = nullptr;
    timers_.replyWindow.setEnabled(false);
    timers_.repeat.setEnabled(false);
    timers_.release.setEnabled(false);
    pacer_.cancel();
}

}  // namespace pj
