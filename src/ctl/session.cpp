// SPDX-License-Identifier: Apache-2.0
#include "ctl/session.h"

#include <algorithm>

#include "posix/loop_timer.h"
#include "posix/tcp_transport.h"
#include "protocol/frame.h"
#include "status/queries.h"

namespace pj::ctl {

namespace {

constexpr char kAck = '\x06';
// The longest an exchange may take before it is given up: beyond the longest reply window.
constexpr int kExchangeGiveUpMs = 10000;
// The longest an opening of a network port may take.
constexpr int kOpenGiveUpMs = posix::TcpTransport::kConnectTimeoutMs + 1000;

// A projector answers a command with a line ending in a carriage return, or with an ACK.
bool answerComplete(std::string_view received) {
    return !received.empty() && (received.back() == kCarriageReturn || received.back() == kAck);
}

}  // namespace

Session::Session() {
    panel_.form.setObserver(this);
}

Session::~Session() {
    onNews_ = nullptr;
    // "END": the port is closed and every timer stopped.
    panel_.form.Click(ControlId::Command16);
    panel_.form.setObserver(nullptr);
}

void Session::sent(std::string_view frame) {
    if (written_.empty()) {
        sentUs_ = nowUs();
    }
    written_ += frame;
}

void Session::received(std::string_view bytes, std::string_view echo) {
    received_ += bytes;
    echo_ = echo;
    if (!completedUs_ && answerComplete(received_)) {
        completedUs_ = nowUs();
    }
    if (onNews_) {
        onNews_();
    }
}

void Session::readout(std::string_view text) {
    readout_ = std::string(text);
}

void Session::replyWindowEnded(bool answered) {
    windowEnded_ = true;
    if (!answered) {
        echo_ = kNoReplyMark;
    }
    if (onNews_) {
        onNews_();
    }
}

void Session::portReady() {
    if (onNews_) {
        onNews_();
    }
}

void Session::portError(std::string_view message) {
    portError_ = std::string(message);
    if (onNews_) {
        onNews_();
    }
}

std::string Session::deviceError(std::string_view message) const {
    // The core names the port "COM1"; here it is the device the operator gave.
    std::string_view why = message;
    if (const std::size_t colon = why.find(": "); why.rfind("COM", 0) == 0 && colon != why.npos) {
        why.remove_prefix(colon + 2);
    }
    return portName() + ": " + std::string(why);
}

void Session::waitFor(const std::function<bool()>& done, int giveUpMs) {
    if (done() || interrupted()) {
        return;
    }
    posix::EventLoop& loop = panel_.loop;
    onNews_ = [&] {
        if (done()) {
            loop.quit();
        }
    };
    posix::LoopTimer giveUp(loop);
    giveUp.setInterval(giveUpMs);
    giveUp.setOnTimer([&] { loop.quit(); });
    giveUp.setEnabled(true);
    loop.run();
    onNews_ = nullptr;
}

std::optional<std::string> Session::open(const Request& request, std::ostream* log) {
    const std::string device = request.port.empty() ? panel_.serial.device(1) : request.port;
    if (log != nullptr) {
        FormObserver* self = this;
        log_ = std::make_unique<LineLog>(*log, panel_.clock,
                                         LineLogHeader{"pjctl", device, request.baud}, self);
        panel_.form.setObserver(log_.get());
    }
    gapMs_ = request.gapMs;
    giveUpMs_ = kExchangeGiveUpMs;
    if (request.timeoutMs) {
        panel_.form.fixReplyWindow(*request.timeoutMs);
        giveUpMs_ = std::max(giveUpMs_, *request.timeoutMs + kExchangeGiveUpMs);
    }
    panel_.load(device);
    // A network port may still be connecting.
    waitFor([&] { return panel_.serial.portOpen() || portError_.has_value(); }, kOpenGiveUpMs);
    if (!panel_.serial.portOpen()) {
        std::string why = portError_.value_or("the port did not open");
        if (const std::size_t colon = why.find(": "); colon != std::string::npos) {
            why.erase(0, colon + 2);
        }
        return "cannot open " + portName() + ": " + why;
    }
    portError_.reset();
    if (request.baud == 9600) {
        panel_.form.Click(ControlId::Option10);
    }
    choose(*request.address);
    return std::nullopt;
}

void Session::choose(const AddressChoice& address) {
    panel_.form.Click(address.option);
}

void Session::pause(int ms) {
    waitFor([] { return false; }, ms);
}

void typeAndSend(Form& form, std::string_view text) {
    form.Change(ControlId::Text1, text);
    form.Click(ControlId::Command95);
}

void sendQuery(Form& form, const NamedQuery& query) {
    const auto button =
        std::find_if(kQueryButtons.begin(), kQueryButtons.end(),
                     [&](const QueryButton& b) { return b.command == query.command; });
    if (button != kQueryButtons.end()) {
        form.Click(button->control);
    } else {
        typeAndSend(form, query.command);
    }
}

Exchange Session::query(const NamedQuery& query) {
    return exchange([&] { sendQuery(panel_.form, query); });
}

Exchange Session::send(std::string_view text) {
    return exchange([&] { typeAndSend(panel_.form, text); });
}

Exchange Session::exchange(const std::function<void()>& sendIt) {
    written_.clear();
    received_.clear();
    echo_.clear();
    readout_.reset();
    windowEnded_ = false;
    portError_.reset();
    completedUs_.reset();

    // Some projectors need a rest between an answer and the next command.
    if (lastAnswerUs_ && gapMs_ > 0) {
        const std::int64_t restUs = *lastAnswerUs_ + std::int64_t{gapMs_} * 1000 - nowUs();
        if (restUs > 0) {
            pause(static_cast<int>((restUs + 999) / 1000));
        }
    }
    sendIt();
    Exchange result;
    result.frame = written_;
    if (!result.frame.empty() && !portError_) {
        waitFor([&] { return answerComplete(received_) || windowEnded_ || portError_; }, giveUpMs_);
    }
    if (portError_) {
        result.portError = deviceError(*portError_);
    } else if (result.frame.empty()) {
        result.portError = deviceError("nothing was sent");
    }
    if (!received_.empty()) {
        result.reply = received_;
    }
    result.echo = echo_;
    result.readout = readout_;
    if (completedUs_) {
        result.latencyMs = static_cast<double>(*completedUs_ - sentUs_) / 1000.0;
    }
    // The answer is taken: the next command starts on an empty receive buffer, as it would
    // once the window's reply window had run out.
    panel_.form.endReplyWindow();
    lastAnswerUs_ = nowUs();
    return result;
}

HoldResult Session::hold(std::string_view text, int forMs, int everyMs) {
    HoldResult result;
    portError_.reset();
    LinePacer& pacer = panel_.form.linePacer();

    posix::EventLoop& loop = panel_.loop;
    posix::LoopTimer repeat(loop);
    posix::LoopTimer release(loop);

    const auto sendOne = [&] {
        const std::size_t before = written_.size();
        typeAndSend(panel_.form, text);
        if (written_.size() == before) {
            result.portError = deviceError(portError_.value_or("nothing was sent"));
            loop.quit();
            return;
        }
        ++result.frames;
    };
    repeat.setOnTimer([&] { pacer.due(sendOne); });
    release.setOnTimer([&] {
        release.setEnabled(false);
        loop.quit();
    });
    onNews_ = [&] {
        if (portError_ && !panel_.serial.portOpen()) {
            result.portError = deviceError(*portError_);
            loop.quit();
        }
    };

    sendOne();
    if (!result.portError && !interrupted()) {
        repeat.setInterval(everyMs);
        repeat.setEnabled(true);
        release.setInterval(forMs);
        release.setEnabled(true);
        loop.run();
    }
    pacer.cancel();
    onNews_ = nullptr;
    return result;
}

}  // namespace pj::ctl
