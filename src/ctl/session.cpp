// SPDX-License-Identifier: Apache-2.0
#include "ctl/session.h"

#include <algorithm>

#include "link/line_settings.h"
#include "posix/local_socket_transport.h"
#include "posix/tcp_transport.h"
#include "protocol/reply.h"

namespace pj::ctl {

namespace {

// The longest an exchange may take before it is given up: beyond the longest reply window,
// after the longest wait for a turn on pjline's line.
constexpr int kExchangeGiveUpMs = 10000 + posix::LocalSocketTransport::kLineWaitMs;
// The longest an opening of a network port may take.
constexpr int kOpenGiveUpMs = kTcpConnectTimeoutMs + 1000;

}  // namespace

Session::Session() {
    line_.setObserver(this);
}

Session::~Session() {
    onNews_ = nullptr;
    line_.close();
    line_.setObserver(nullptr);
}

void Session::portReady() {
    ready_ = true;
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
    return portName() + ": " + std::string(message);
}

void Session::waitFor(const std::function<bool()>& done, int giveUpMs) {
    if (done() || interrupted()) {
        return;
    }
    onNews_ = [&] {
        if (done()) {
            loop_.quit();
        }
    };
    posix::LoopTimer giveUp(loop_);
    giveUp.setInterval(giveUpMs);
    giveUp.setOnTimer([&] { loop_.quit(); });
    giveUp.setEnabled(true);
    loop_.run();
    onNews_ = nullptr;
}

std::optional<std::string> Session::open(const Request& request, std::ostream* log) {
    if (!request.port.empty()) {
        serial_.setDevice(1, request.port);
    }
    if (log != nullptr) {
        FormObserver* self = this;
        log_ = std::make_unique<LineLog>(*log, clock_,
                                         LineLogHeader{"pjctl", portName(), request.baud}, self);
        line_.setObserver(log_.get());
    }
    gapMs_ = request.gapMs;
    giveUpMs_ = kExchangeGiveUpMs;
    if (request.timeoutMs) {
        line_.fixReplyWindow(*request.timeoutMs);
        giveUpMs_ = std::max(giveUpMs_, *request.timeoutMs + kExchangeGiveUpMs);
    }
    const SerialResult opened = line_.open(request.baud == 9600 ? kSettings9600 : kSettings19200);
    if (opened.failed()) {
        portError_ = opened.error();
    }
    // A network port may still be connecting.
    waitFor([&] { return serial_.portOpen() || portError_.has_value(); }, kOpenGiveUpMs);
    if (!serial_.portOpen()) {
        return "cannot open " + portName() + ": " + portError_.value_or("the port did not open");
    }
    portError_.reset();
    choose(*request.address);
    return std::nullopt;
}

void Session::choose(const AddressOption& address) {
    line_.setAddress(address.number);
}

void Session::pause(int ms) {
    waitFor([] { return false; }, ms);
}

Exchange Session::query(const StatusQuery& query) {
    return send(*findCommand(query.name));
}

Exchange Session::send(const Command& command) {
    return exchange([&](LineSession::Done done) { line_.send(command, std::move(done)); });
}

Exchange Session::send(std::string_view text) {
    return exchange([&](LineSession::Done done) { line_.sendText(text, std::move(done)); });
}

Exchange Session::exchange(const std::function<void(LineSession::Done)>& sendIt) {
    portError_.reset();
    // Some projectors need a rest between an answer and the next command.
    if (lastAnswerUs_ && gapMs_ > 0) {
        const std::int64_t restUs = *lastAnswerUs_ + std::int64_t{gapMs_} * 1000 - nowUs();
        if (restUs > 0) {
            pause(static_cast<int>((restUs + 999) / 1000));
        }
    }
    std::optional<Exchange> result;
    sendIt([&](const LineResult& r) {
        result = r;
        if (onNews_) {
            onNews_();
        }
    });
    waitFor([&] { return result.has_value(); }, giveUpMs_);
    if (!result) {
        // Interrupted, or given up: the answer is no longer awaited.
        line_.cancel();
        result = Exchange{};
        result->echo = kNoReplyMark;
    }
    if (result->portError) {
        result->portError = deviceError(*result->portError);
    } else if (result->frame.empty()) {
        result->portError = deviceError("nothing was sent");
    }
    lastAnswerUs_ = nowUs();
    return *result;
}

HoldResult Session::hold(std::string_view text, int forMs, int everyMs) {
    std::optional<HoldResult> result;
    line_.hold(text, forMs, everyMs, [&](HoldResult r) {
        result = std::move(r);
        if (onNews_) {
            onNews_();
        }
    });
    waitFor([&] { return result.has_value(); }, forMs + kExchangeGiveUpMs);
    if (!result) {
        line_.cancel();
        result = HoldResult{};
    }
    if (result->portError) {
        result->portError = deviceError(*result->portError);
    }
    return *result;
}

}  // namespace pj::ctl
