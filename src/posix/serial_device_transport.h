// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "link/transport.h"
#include "posix/device_lock.h"
#include "posix/event_loop.h"

namespace pj::posix {

// A serial device through termios: raw, no flow control, the line settings given, and held
// exclusively while open (see DeviceLock), so a second opener fails. A device that goes away (an
// adapter pulled, the far end of a pseudo-terminal gone) is closed and reported once.
class SerialDeviceTransport final : public Transport {
  public:
    SerialDeviceTransport(EventLoop& loop, std::string device);
    ~SerialDeviceTransport() override;
    SerialDeviceTransport(const SerialDeviceTransport&) = delete;
    SerialDeviceTransport& operator=(const SerialDeviceTransport&) = delete;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams& params) override;

  private:
    SerialResult configure();
    void ready(short revents);
    void flushOut();
    void lose(const std::string& how);

    EventLoop& loop_;
    std::string device_;
    LineParams params_{19200};
    DeviceLock lock_;
    int fd_ = -1;  // the lock's descriptor while open
    EventLoop::WatchId watch_ = 0;
    // What the driver did not take yet, written as the line drains.
    std::string pending_;
};

}  // namespace pj::posix
