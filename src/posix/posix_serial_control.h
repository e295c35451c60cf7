// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "link/transport_serial_control.h"
#include "posix/event_loop.h"

namespace pj::posix {

// The serial control on the POSIX transports, on the loop's own turns.
class PosixSerialControl final : public TransportSerialControl {
  public:
    explicit PosixSerialControl(EventLoop& loop) : loop_(loop) {}
    ~PosixSerialControl() override { closeTransport(); }
    PosixSerialControl(const PosixSerialControl&) = delete;
    PosixSerialControl& operator=(const PosixSerialControl&) = delete;

  private:
    DeviceFacts examine(const std::string& name) const override;
    std::unique_ptr<Transport> makeDeviceTransport(const std::string& resolved) override;
    std::unique_ptr<Transport> makeNetworkTransport(const TcpEndpoint& endpoint) override;
    std::unique_ptr<Transport> makeLocalSocketTransport(const std::string& path) override;

    EventLoop& loop_;
};

}  // namespace pj::posix
