#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>

#include <array>
#include <cstdint>
#include <optional>

#include "link/serial_control.h"

namespace pj {

// Where a port is reached on the network: a serial device server in raw TCP mode, named
// "tcp://HOST:PORT" ("tcp://[::1]:4001" for an IPv6 address).
struct TcpEndpoint {
    QString host;
    std::uint16_t port = 0;
};

// True when `device` names a network port rather than a serial device.
bool isTcpDevice(const QString& device);
// The endpoint a "tcp://HOST:PORT" name stands for, or a description of what is wrong with it.
std::optional<TcpEndpoint> parseTcpDevice(const QString& device, QString* error = nullptr);

// The serial control on QSerialPort, or on QTcpSocket for a port named "tcp://HOST:PORT".
// Port numbers 1 and 2 stand for devices: "COM1" and "COM2" on Windows, /dev/ttyS0 and
// /dev/ttyS1 elsewhere, unless the operator named others.
//
// On a network port the line settings are kept but have no effect (the device server sets
// the line speed), and a connection closed or broken from the far end is reported as a
// device that went away.
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
    bool portOpen() const override { return serial_.isOpen() || tcpOpen_; }
    SerialError setPortOpen(bool open) override;
    SerialError output(std::string_view bytes) override;
    std::string input() override;
    int commEvent() const override { return event_; }
    void setOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }

  private:
    void raise(int event);
    void onError(QSerialPort::SerialPortError error);
    // Closes the port on the next turn of the event loop and reports the device lost, once.
    void loseDevice();
    SerialError applySettings();
    SerialError openTcp();
    void closeTcp();

    QSerialPort serial_;
    QTcpSocket socket_;
    bool tcpOpen_ = false;
    // The network port went away: opening it again starts a connection and returns soon
    // rather than holding the window up for the whole connection time-out.
    bool tcpRetrying_ = false;
    std::array<QString, 2> devices_;
    int port_ = 1;
    std::string settings_ = "9600,N,8,1";
    int event_ = 0;
    bool closing_ = false;
    std::function<void()> onComm_;
};

}  // namespace pj
