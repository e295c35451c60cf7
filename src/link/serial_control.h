// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace pj {

// What became of a request to the serial control. Success is named; a failure carries the
// serial library's own description of what went wrong.
class [[nodiscard]] SerialResult {
  public:
    enum class Outcome {
        Done,      // carried out
        UnderWay,  // begun; its end is reported by a CommEvent (opening a network port; a write
                   // waiting for its turn on a shared line, ended by Written)
        Failed,
    };

    static SerialResult done() { return SerialResult(Outcome::Done, {}); }
    static SerialResult underWay() { return SerialResult(Outcome::UnderWay, {}); }
    static SerialResult failed(std::string why) {
        return SerialResult(Outcome::Failed, std::move(why));
    }

    Outcome outcome() const { return outcome_; }
    bool failed() const { return outcome_ == Outcome::Failed; }
    // Why it failed; empty unless it did.
    const std::string& error() const { return error_; }

  private:
    SerialResult(Outcome outcome, std::string error)
        : outcome_(outcome), error_(std::move(error)) {}

    Outcome outcome_;
    std::string error_;
};

// What the serial control reports, with what belongs to it.
struct CommEvent {
    enum class Kind {
        Receive,     // data arrived: `data` holds it, taken from the control's buffer
        DeviceLost,  // the device went away and the port is now closed: `data` says how
        Opened,      // an opening that was under way has finished: the port is open
        OpenFailed,  // an opening that was under way has failed: `data` says why
        LineError,   // the line reported an error that leaves the port open: `data` says what
        Written,     // bytes whose writing was left under way went out on the line now
    };
    Kind kind;
    std::string data;
    // DeviceLost: whether the control can tell the same device when it comes back (a network
    // endpoint, a link the operator named, a USB adapter by its serial number), so that the
    // port may be reopened without the operator. A device known only by a path that another
    // device may take next is not.
    bool sameDeviceKnown = true;
};

// The serial control: the one way the program reaches the serial line. The operations are
// those the window relies on; how a port number maps onto a device is the control's own
// business.
class SerialControl {
  public:
    virtual ~SerialControl() = default;

    // The port number (1 or 2) used by the next opening.
    virtual SerialResult setCommPort(int port) = 0;
    virtual int commPort() const = 0;

    // "19200,N,8,1" or "9600,N,8,1"; applies at once, also to an open port.
    virtual SerialResult setSettings(std::string_view settings) = 0;

    // True once the port is open; an opening still under way is not open.
    virtual bool portOpen() const = 0;
    // Opening may be under way when it returns (a network port); its end is then reported.
    virtual SerialResult setPortOpen(bool open) = 0;

    // Writes every byte once, in order. Fails (and writes nothing) when the port is not open.
    virtual SerialResult output(std::string_view bytes) = 0;

    // Raised for each arrival of data and each change of the port's state.
    virtual void setOnComm(std::function<void(const CommEvent&)> handler) = 0;
};

}  // namespace pj
