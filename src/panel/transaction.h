// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/form_observer.h"
#include "core/timer.h"
#include "core/window.h"
#include "link/line_pacer.h"
#include "link/serial_control.h"
#include "protocol/reply.h"

namespace pj {

// Modes of Hyouji.
inline constexpr std::uint8_t kHyoujiSend = 1;
inline constexpr std::uint8_t kHyoujiReceived = 2;

// The display hold as the window is designed (its Timer4), and that of a command typed into
// the command entry, in milliseconds; the reply windows are in protocol/reply.h.
inline constexpr int kTimer4Design = 1000;
inline constexpr int kTypedDisplayHold = 2500;

inline constexpr std::string_view kNotSentMark = " NOT SENT - ";

// The one road by which a command leaves and a reply comes back: the frame, Hyouji, the
// receive buffer, the reply window (Timer2), the display hold (Timer4) and the three data
// lines TXD, RXD and STATUS.
class Transaction {
  public:
    Transaction(Window& window, SerialControl& serial, Timer& replyWindow, Timer& displayHold,
                LinePacer& pacer);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // The address put in front of every frame: empty, "AFFF" or "A001" to "A004".
    void setAddressPrefix(std::string_view prefix) { addressPrefix_ = prefix; }
    const std::string& addressPrefix() const { return addressPrefix_; }

    // Builds the frame for `command` with the current address into LastCommand and sends it.
    void send(std::string_view command);
    // Sends (mode 1) or shows as received (mode 2) `text`.
    void Hyouji(std::string_view text, std::uint8_t mode);
    // One arrival from the line.
    void receive(std::string_view bytes);
    // A frame that waited for its turn on a shared line went out now: its reply window
    // starts here.
    void written();

    // Sticky periods: they stay in force for every later send until set again.
    void setReplyWindow(int ms) { replyWindow_.setInterval(fixedReplyWindow_.value_or(ms)); }
    // A reply window of `ms` for every send, whatever period its button sets: for a headless
    // run that is told how long its projector may take.
    void fixReplyWindow(int ms) {
        fixedReplyWindow_ = ms;
        replyWindow_.setInterval(ms);
    }
    void setDisplayHold(int ms) { displayHold_.setInterval(ms); }
    // What the release of a press-and-hold button does: the reply window is closed and
    // forgotten, the sent and received lines emptied, the display hold started afresh and
    // both periods set back to their design.
    void release();
    // Switches both timers off for good.
    void stop();

    void Timer2_Timer();
    void Timer4_Timer();
    bool replyWindowOpen() const { return replyWindow_.enabled(); }

    void setObserver(FormObserver* observer) { observer_ = observer; }

    const std::string& lastCommand() const { return lastCommand_; }
    const std::string& rxBuffer() const { return rxBuffer_; }
    std::uint8_t awaitingReply() const { return awaitingReply_; }
    std::int16_t pressureValue() const { return pressureValue_; }

  private:
    void decodeStatus();
    void showReceived(std::string echo);

    Window& window_;
    SerialControl& serial_;
    Timer& replyWindow_;
    Timer& displayHold_;
    LinePacer& pacer_;
    FormObserver* observer_ = nullptr;

    std::string addressPrefix_;
    std::string lastCommand_;
    std::string rxBuffer_;
    std::uint8_t awaitingReply_ = 0;
    std::int16_t pressureValue_ = 0;
    std::optional<int> fixedReplyWindow_;
    // A frame sent and still waiting for its turn on a shared line.
    bool waitingForLine_ = false;
    // What the RXD line shows now: the decoding reads it, as the operator does.
    std::string shownReceived_;
};

}  // namespace pj
