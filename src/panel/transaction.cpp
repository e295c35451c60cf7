// SPDX-License-Identifier: Apache-2.0
#include "panel/transaction.h"

#include "protocol/echo.h"
#include "protocol/frame.h"
#include "status/decode.h"

namespace pj {

Transaction::Transaction(Window& window, SerialControl& serial, Timer& replyWindow,
                         Timer& displayHold, LinePacer& pacer)
    : window_(window),
      serial_(serial),
      replyWindow_(replyWindow),
      displayHold_(displayHold),
      pacer_(pacer) {
    replyWindow_.setEnabled(false);
    replyWindow_.setInterval(kTimer2Design);
    replyWindow_.setOnTimer([this] { Timer2_Timer(); });
    displayHold_.setEnabled(false);
    displayHold_.setInterval(kTimer4Design);
    displayHold_.setOnTimer([this] { Timer4_Timer(); });
}

void Transaction::send(std::string_view command) {
    lastCommand_ = buildFrame(addressPrefix_, command);
    Hyouji(lastCommand_, kHyoujiSend);
}

void Transaction::Hyouji(std::string_view text, std::uint8_t mode) {
    if (mode != kHyoujiSend) {
        showReceived(echoText(text));
        decodeStatus();
        return;
    }
    const SerialResult result = serial_.output(text);
    if (result.failed()) {
        // Nothing went out: say so where the sent echo would stand, and open no reply
        // window. The display hold clears the notice as it would clear an echo.
        const std::string why = "COM" + std::to_string(serial_.commPort()) + ": " + result.error();
        window_.setCaption(ControlId::Label11, std::string(kNotSentMark) + why);
        displayHold_.setEnabled(true);
        if (observer_ != nullptr) {
            observer_->portError(why);
        }
        return;
    }
    pacer_.written(text.size());
    window_.setCaption(ControlId::Label11, echoText(text));
    // A frame that waits for its turn on a shared line has its reply window once it goes out.
    waitingForLine_ = result.outcome() == SerialResult::Outcome::UnderWay;
    replyWindow_.setEnabled(!waitingForLine_);
    awaitingReply_ = 1;
    displayHold_.setEnabled(true);
    if (observer_ != nullptr) {
        observer_->sent(text);
    }
}

void Transaction::receive(std::string_view bytes) {
    rxBuffer_ += bytes;
    if (rxBuffer_.size() > kRxBufferCap) {
        // A noisy or wrong-speed line must not grow the buffer (and the work done on each
        // arrival) without bound: the oldest characters give way.
        rxBuffer_.erase(0, rxBuffer_.size() - kRxBufferCap);
    }
    awaitingReply_ = 0;
    Hyouji(rxBuffer_, kHyoujiReceived);
    if (observer_ != nullptr) {
        observer_->received(bytes, shownReceived_);
    }
}

void Transaction::written() {
    if (waitingForLine_) {
        waitingForLine_ = false;
        replyWindow_.setEnabled(true);
    }
}

void Transaction::showReceived(std::string echo) {
    shownReceived_ = std::move(echo);
    window_.setCaption(ControlId::Label12, shownReceived_);
}

void Transaction::decodeStatus() {
    if (auto readout =
            pj::decodeStatus(lastCommand_, addressPrefix_, shownReceived_, pressureValue_)) {
        window_.setCaption(ControlId::Label22, *readout);
        if (observer_ != nullptr) {
            observer_->readout(*readout);
        }
    }
}

void Transaction::Timer2_Timer() {
    const bool answered = awaitingReply_ != 1;
    if (!answered) {
        showReceived(std::string(kNoReplyMark));
    }
    replyWindow_.setEnabled(false);
    rxBuffer_.clear();
    awaitingReply_ = 0;
    if (observer_ != nullptr) {
        observer_->replyWindowEnded(answered);
    }
}

void Transaction::Timer4_Timer() {
    for (const ControlId label : {ControlId::Label11, ControlId::Label12, ControlId::Label22}) {
        window_.setCaption(label, "");
    }
    shownReceived_.clear();
    displayHold_.setEnabled(false);
}

void Transaction::release() {
    replyWindow_.setEnabled(false);
    waitingForLine_ = false;
    displayHold_.setEnabled(true);
    window_.setCaption(ControlId::Label11, "");
    showReceived("");
    replyWindow_.setInterval(fixedReplyWindow_.value_or(kTimer2Design));
    displayHold_.setInterval(kTimer4Design);
    rxBuffer_.clear();
}

void Transaction::stop() {
    replyWindow_.setEnabled(false);
    waitingForLine_ = false;
    displayHold_.setEnabled(false);
}

}  // namespace pj
