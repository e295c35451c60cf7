// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/form_observer.h"
#include "core/timer.h"
#include "link/line_pacer.h"
#include "link/serial_control.h"
#include "projector/commands.h"
#include "status/values.h"

namespace pj {

// The most of a reply a result keeps: a projector's longest is far shorter, and a line that
// sends without end (noise, a wrong speed) must not fill the memory.
inline constexpr std::size_t kLongestReplyKept = 4096;

// One command sent and its answer.
struct LineResult {
    std::string frame;                   // the bytes written; empty when nothing went out
    std::optional<std::string> reply;    // the first kLongestReplyKept bytes received; nothing
                                         // when none came
    std::size_t replyBeyond = 0;         // bytes that came past those
    std::string echo;                    // the reply as the window's RXD line shows it
    std::optional<std::string> readout;  // the window's STATUS line; nothing when it shows none
    StatusValue value;                   // what a status query's reply says
    std::optional<std::string> portError;
    // From the frame's going out to the arrival that completed the answer.
    std::optional<double> latencyMs;
};

// The line for programs, without a window: frames a command with the projector's address,
// sends it, takes its answer (up to its carriage return or a lone ACK) within its reply
// window, decodes a status reply into the window's readout and a value, and holds a command
// with repeats paced by the line's own time. Everything happens on the serial control's
// events and the timers' turns; the caller's loop runs them.
class LineSession {
  public:
    struct Timers {
        Timer& replyWindow;
        Timer& pacer;
        Timer& repeat;
        Timer& release;
    };
    using Done = std::function<void(const LineResult& result)>;

    LineSession(SerialControl& serial, Timers timers, const Clock& clock);
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;
    ~LineSession();

    // Opens port 1 at `settings` ("19200,N,8,1"). A network port may still be connecting
    // when this returns: the observer's portReady or portError tells its end.
    SerialResult open(std::string_view settings);
    void close();
    bool portOpen() const { return serial_.portOpen(); }

    // kNoAddress, kEveryAddress or 1 to 4; false for another.
    bool setAddress(int number);
    // Every command waits `ms` for its answer instead of its own reply window.
    void fixReplyWindow(std::optional<int> ms) { fixedReplyWindow_ = ms; }
    // Told of every frame, arrival, readout and port error (the line log); may be null.
    void setObserver(FormObserver* observer) { observer_ = observer; }

    // Sends a command by name, or text as typed into the window's command entry (which
    // waits kTypedReplyWindow for its answer, as the window does). `done` is called once, on a
    // later turn or at once when nothing could be sent. One command at a time.
    void send(const Command& command, Done done);
    void sendText(std::string_view text, Done done);

    // Sends `text` now and again every `everyMs` for `forMs`, a repeat waiting while the
    // line is still busy with the frame before; `done` gets how many frames went out, or the
    // port's error.
    struct HoldResult {
        int frames = 0;
        std::optional<std::string> portError;
    };
    void hold(std::string_view text, int forMs, int everyMs, std::function<void(HoldResult)> done);

    // Drops the command or hold under way without telling its end (the caller gave up on it).
    void cancel();

  private:
    void start(std::string_view text, int replyWindowMs, Done done);
    void onComm(const CommEvent& event);
    void received(std::string_view bytes);
    void finish();
    void portFailed(const std::string& message);
    bool writeFrame(const std::string& frame);
    void sendHeld();
    void endHold();

    SerialControl& serial_;
    Timers timers_;
    const Clock& clock_;
    LinePacer pacer_;
    FormObserver* observer_ = nullptr;
    std::string prefix_;
    std::optional<int> fixedReplyWindow_;

    // The command whose answer is awaited.
    bool busy_ = false;
    // Its frame waits for its turn on a shared line: its reply window starts once it goes out.
    bool waitingForLine_ = false;
    Done done_;
    LineResult result_;
    std::string rxBuffer_;
    std::int64_t sentUs_ = 0;

    // The hold under way.
    std::function<void(HoldResult)> holdDone_;
    HoldResult held_;
    std::string heldFrame_;
};

}  // namespace pj
