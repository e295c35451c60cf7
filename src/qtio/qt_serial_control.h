#pragma once

#include <QString>

#include <array>
#include <memory>
#include <string>

#include "link/serial_control.h"
#include "qtio/transport.h"

namespace pj {

// The serial control on the Qt transports: a serial device, or a serial device server for a
// port named "tcp://HOST:PORT". Port numbers 1 and 2 stand for devices: "COM1" and "COM2" on
// Windows, /dev/ttyS0 and /dev/ttyS1 elsewhere, unless the operator named others.
class QtSerialControl final : public SerialControl {
  public:
    QtSerialControl();
    ~QtSerialControl() override;
    QtSerialControl(const QtSerialControl&) = delete;
    QtSerialControl& operator=(const QtSerialControl&) = delete;

    // The device behind port number 1 or 2.
    void setDevice(int port, const QString& device);
    QString device(int port) const;

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
        QString device;       // the name the port was given
        bool byLink = false;  // a symbolic link: the operator's own stable name for it
        bool usb = false;     // a USB adapter, told by these
        quint16 vendor = 0;
        quint16 product = 0;
        QString serialNumber;
    };

    SerialResult open();
    SerialResult openDevice(const QString& name);
    void onTransportEvent(CommEvent event);

    std::array<QString, 2> devices_;
    int port_ = 1;
    std::string settings_ = "9600,N,8,1";
    // The transport of the device last opened, and that device's name.
    std::unique_ptr<Transport> transport_;
    QString transportDevice_;
    Identity identity_;
    // The port went away and has not been chosen again since: an opening is a retry, and
    // must find the same device.
    bool retrying_ = false;
    std::function<void(const CommEvent&)> onComm_;
};

}  // namespace pj
