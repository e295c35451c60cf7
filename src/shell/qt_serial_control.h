#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <array>

#include "link/serial_control.h"

namespace pj {

// The serial control on QSerialPort. Port numbers 1 and 2 stand for devices: "COM1" and
// "COM2" on Windows, /dev/ttyS0 and /dev/ttyS1 elsewhere, unless the operator named others.
class QtSerialControl final : public QObject, public SerialControl {
    Q_OBJECT
  public:
    explicit QtSerialControl(QObject* parent = nullptr);
    ~QtSerialControl() override;

    // The device behind port number 1 or 2.
    void setDevice(int port, const QString& device);
    QString device(int port) const;

    SerialError setCommPort(int port) override;
    int commPort() const override { return port_; }
    SerialError setSettings(std::string_view settings) override;
    bool portOpen() const override { return serial_.isOpen(); }
    SerialError setPortOpen(bool open) override;
    SerialError output(std::string_view bytes) override;
    std::string input() override;
    int commEvent() const override { return event_; }
    void setOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }

  private:
    void raise(int event);
    void onError(QSerialPort::SerialPortError error);
    SerialError applySettings();

    QSerialPort serial_;
    std::array<QString, 2> devices_;
    int port_ = 1;
    std::string settings_ = "9600,N,8,1";
    int event_ = 0;
    bool closing_ = false;
    std::function<void()> onComm_;
};

}  // namespace pj
