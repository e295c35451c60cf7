#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pj {

// Empty on success; otherwise the serial library's own description of what went wrong.
using SerialError = std::optional<std::string>;

// Values of CommEvent.
inline constexpr int kCommEvReceive = 2;        // data has arrived and waits in Input
inline constexpr int kCommEvDeviceLost = 1100;  // the device went away; the port is now closed

// The serial control: the one way the program reaches the serial line. The operations are
// those the window relies on; how a port number maps onto a device is the control's own
// business.
class SerialControl {
  public:
    virtual ~SerialControl() = default;

    // The port number (1 or 2) used by the next opening.
    virtual SerialError setCommPort(int port) = 0;
    virtual int commPort() const = 0;

    // "19200,N,8,1" or "9600,N,8,1"; applies at once, also to an open port.
    virtual SerialError setSettings(std::string_view settings) = 0;

    virtual bool portOpen() const = 0;
    virtual SerialError setPortOpen(bool open) = 0;

    // Writes every byte once, in order. Fails (and writes nothing) when the port is closed.
    virtual SerialError output(std::string_view bytes) = 0;

    // Everything that arrived since the last read, removed from the control's buffer.
    virtual std::string input() = 0;

    virtual int commEvent() const = 0;

    // Raised after each arrival of data (and when the device is lost).
    virtual void setOnComm(std::function<void()> handler) = 0;
};

}  // namespace pj
