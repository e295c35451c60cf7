// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/port_target.h"
#include "link/serial_control.h"
#include "link/tcp_endpoint.h"
#include "link/transport.h"

namespace pj {

// The serial control on transports: a serial device, a serial device server for a port
// named "tcp://HOST:PORT", or a line server's local socket for "unix:PATH" or a path that is
// a socket (see portTarget). Port numbers 1 and 2 stand for devices: /dev/ttyS0 and /dev/ttyS1
// unless the operator named others. A platform supplies the transports and what it can tell
// of a device; the rules of opening, losing and reopening are the same on all of them.
class TransportSerialControl : public SerialControl {
  public:
    ~TransportSerialControl() override;
    TransportSerialControl(const TransportSerialControl&) = delete;
    TransportSerialControl& operator=(const TransportSerialControl&) = delete;

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

  protected:
    TransportSerialControl() = default;

    virtual DeviceFacts examine(const std::string& name) const = 0;
    virtual std::unique_ptr<Transport> makeDeviceTransport(const std::string& resolved) = 0;
    virtual std::unique_ptr<Transport> makeNetworkTransport(const TcpEndpoint& endpoint) = 0;
    virtual std::unique_ptr<Transport> makeLocalSocketTransport(const std::string& path) = 0;

    // To be called first thing in a platform's destructor, while its transports still work.
    void closeTransport();

  private:
    // What is known of the device behind a port when it was opened, to tell it again.
    struct Identity {
        std::string device;  // the name the port was given
        bool byLink = false;
        std::optional<UsbIdentity> usb;
        // Reached by its name alone, a network endpoint or a local socket: whatever answers
        // there is the line again.
        bool byName = false;
    };

    SerialResult open();
    SerialResult openDevice(const std::string& name, const DeviceFacts& facts);
    SerialResult openByName(const std::string& key,
                            const std::function<std::unique_ptr<Transport>()>& make);
    SerialResult openTransport();
    void adopt(std::unique_ptr<Transport> transport, const std::string& key);
    void onTransportEvent(CommEvent event);

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

}  // namespace pj
