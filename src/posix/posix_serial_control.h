#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_control.h"
#include "posix/event_loop.h"
#include "posix/serial_ports.h"
#include "posix/transport.h"

namespace pj::posix {

// The serial control on the POSIX transports: a serial device, or a serial device server
// for a port named "tcp://HOST:PORT". Port numbers 1 and 2 stand for /dev/ttyS0 and
// /dev/ttyS1 unless the operator named other devices.
class PosixSerialControl final : public SerialControl {
  public:
    explicit PosixSerialControl(EventLoop& loop);
    ~PosixSerialControl() override;
    PosixSerialControl(const PosixSerialControl&) = delete;
    PosixSerialControl& operator=(const PosixSerialControl&) = delete;

    // The device behind port number 1 or 2.
    void setDevice(int port, const std::string& device);
    std::string device(int port) const;

    SerialResult setCommPort(int port) override;
    int commPort() const override { return port_; }
    SerialResult setSettings(std::string_view settings) override;
    bool portOpen() const override { return transport_ && transport_->isOpen(); }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(std::string_view bytes) override;
    void setOnComm(std::function<void(const CommEvent&)> handler) override {
        onComm_ = std::move(handler);
    }

  private:
    // What is known of the device behind a port when it was opened, to tell it again.
    struct Identity {
        std::string device;              // the name the port was given
        bool byLink = false;             // a symbolic link: the operator's own stable name for it
        std::optional<UsbIdentity> usb;  // a USB adapter, told by its numbers
    };

    SerialResult open();
    SerialResult openDevice(const std::string& name);
    void onTransportEvent(CommEvent event);

    EventLoop& loop_;
    std::array<std::string, 2> devices_{"/dev/ttyS0", "/dev/ttyS1"};
    int port_ = 1;
    std::string settings_ = "9600,N,8,1";
    // The transport of the device last opened, and that device's name.
    std::unique_ptr<Transport> transport_;
    std::string transportDevice_;
    Identity identity_;
    // The port went away and has not been chosen again since: an opening is a retry, and
    // must find the same device.
    bool retrying_ = false;
    std::function<void(const CommEvent&)> onComm_;
};

}  // namespace pj::posix
