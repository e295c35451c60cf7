#include "shell/qt_serial_control.h"

#include <QTimer>

#include "link/line_settings.h"

namespace pj {

namespace {

SerialError describe(const QSerialPort& serial) {
    return serial.errorString().toStdString();
}

QSerialPort::Parity toParity(char parity) {
    switch (parity) {
        case 'E':
            return QSerialPort::EvenParity;
        case 'O':
            return QSerialPort::OddParity;
        case 'M':
            return QSerialPort::MarkParity;
        case 'S':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

}  // namespace

QtSerialControl::QtSerialControl(QObject* parent) : QObject(parent) {
#ifdef Q_OS_WIN
    devices_ = {QStringLiteral("COM1"), QStringLiteral("COM2")};
#else
    devices_ = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")};
#endif
    serial_.setFlowControl(QSerialPort::NoFlowControl);
    applySettings();
    connect(&serial_, &QSerialPort::readyRead, this, [this] { raise(kCommEvReceive); });
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl() {
    onComm_ = nullptr;
    serial_.close();
}

void QtSerialControl::setDevice(int port, const QString& device) {
    if (port == 1 || port == 2) {
        devices_[static_cast<std::size_t>(port - 1)] = device;
    }
}

QString QtSerialControl::device(int port) const {
    return (port == 1 || port == 2) ? devices_[static_cast<std::size_t>(port - 1)] : QString();
}

SerialError QtSerialControl::setCommPort(int port) {
    if (port != 1 && port != 2) {
        return "Invalid port number";
    }
    if (serial_.isOpen()) {
        return "Port is already open";
    }
    port_ = port;
    return std::nullopt;
}

SerialError QtSerialControl::setSettings(std::string_view settings) {
    if (!parseLineSettings(settings)) {
        return "Invalid line settings";
    }
    settings_ = settings;
    return applySettings();
}

SerialError QtSerialControl::applySettings() {
    const auto params = parseLineSettings(settings_);
    if (!params) {
        return "Invalid line settings";
    }
    const bool ok =
        serial_.setBaudRate(params->baud) && serial_.setParity(toParity(params->parity)) &&
        serial_.setDataBits(static_cast<QSerialPort::DataBits>(params->dataBits)) &&
        serial_.setStopBits(params->stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    return ok ? SerialError{} : describe(serial_);
}

SerialError QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (serial_.isOpen()) {
            serial_.close();
        }
        return std::nullopt;
    }
    if (serial_.isOpen()) {
        return "Port is already open";
    }
    serial_.setPortName(device(port_));
    if (!serial_.open(QIODevice::ReadWrite)) {
        return describe(serial_);
    }
    if (const SerialError error = applySettings()) {
        serial_.close();
        return error;
    }
    serial_.clear();
    return std::nullopt;
}

SerialError QtSerialControl::output(std::string_view bytes) {
    if (!serial_.isOpen()) {
        return "the port is not open";
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (serial_.write(bytes.data(), size) != size) {
        return describe(serial_);
    }
    // Hand the frame to the driver now rather than on the next turn of the event loop.
    serial_.flush();
    return std::nullopt;
}

std::string QtSerialControl::input() {
    return serial_.readAll().toStdString();
}

void QtSerialControl::raise(int event) {
    event_ = event;
    if (onComm_) {
        onComm_();
    }
}

void QtSerialControl::onError(QSerialPort::SerialPortError error) {
    // A device that went away shows as a resource error (an adapter pulled) or as a read
    // that finds the line hung up (the other end of a pseudo-terminal gone).
    const bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!lost || !serial_.isOpen() || closing_) {
        return;
    }
    // Close it so nothing spins on a dead descriptor, and say so once. Closing from inside the
    // port's own notification is not safe, so it happens on the next turn of the event loop.
    closing_ = true;
    QTimer::singleShot(0, this, [this] {
        closing_ = false;
        if (serial_.isOpen()) {
            serial_.close();
            raise(kCommEvDeviceLost);
        }
    });
}

}  // namespace pj
