// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <memory>
#include <string>

#include "link/transport_serial_control.h"

namespace pj {

// The serial control on the Qt transports: QSerialPort, QTcpSocket for a port named
// "tcp://HOST:PORT", and QLocalSocket for a line server's local socket. On Windows ports 1 and 2
// stand for COM1 and COM2.
class QtSerialControl final : public TransportSerialControl {
  public:
    QtSerialControl();
    ~QtSerialControl() override { closeTransport(); }
    QtSerialControl(const QtSerialControl&) = delete;
    QtSerialControl& operator=(const QtSerialControl&) = delete;

    using TransportSerialControl::setDevice;
    void setDevice(int port, const QString& device) { setDevice(port, device.toStdString()); }

  private:
    DeviceFacts examine(const std::string& name) const override;
    std::unique_ptr<Transport> makeDeviceTransport(const std::string& resolved) override;
    std::unique_ptr<Transport> makeNetworkTransport(const TcpEndpoint& endpoint) override;
    std::unique_ptr<Transport> makeLocalSocketTransport(const std::string& path) override;
};

}  // namespace pj
