// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSerialPort>
#include <QString>

#include <string>

#include "link/transport.h"
#include "posix/device_lock.h"

namespace pj {

// A serial device on QSerialPort. A device that goes away (an adapter pulled, the far end of
// a pseudo-terminal gone) is closed and reported once.
class SerialPortTransport final : public Transport {
  public:
    explicit SerialPortTransport(const QString& device);
    ~SerialPortTransport() override;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams& params) override;

  private:
    void onError(QSerialPort::SerialPortError error);

    std::string device_;  // as named
    posix::DeviceLock lock_;
    QSerialPort port_;
    LineParams params_{19200};
    bool losing_ = false;
};

}  // namespace pj
