// SPDX-License-Identifier: Apache-2.0
#include "qtio/serial_port_transport.h"

#include <QTimer>

namespace pj {

namespace {

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

SerialPortTransport::SerialPortTransport(const QString& device) : device_(device.toStdString()) {
    port_.setPortName(device);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
        report({CommEvent::Kind::Receive, port_.readAll().toStdString()});
    });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

SerialPortTransport::~SerialPortTransport() {
    setOnEvent(nullptr);
    port_.close();
    lock_.release();
}

SerialResult SerialPortTransport::open() {
    if (port_.isOpen()) {
        return SerialResult::failed("Port is already open");
    }
    // Taken as every program here takes a device (see DeviceLock), around the port's own
    // opening: the port opens the device by its real name, so that the lock file it writes is
    // the conventional one, and the exclusive mode is set once it has.
    if (const std::string refused = lock_.take(device_); !refused.empty()) {
        return SerialResult::failed(refused);
    }
    port_.setPortName(QString::fromStdString(posix::realDevice(device_)));
    if (!port_.open(QIODevice::ReadWrite)) {
        lock_.release();
        return SerialResult::failed(port_.errorString().toStdString());
    }
    if (const std::string refused = lock_.complete(); !refused.empty()) {
        port_.close();
        lock_.release();
        return SerialResult::failed(refused);
    }
    if (const SerialResult applied = applySettings(params_); applied.failed()) {
        port_.close();
        lock_.release();
        return applied;
    }
    // What waited in the driver before the opening is not this session's.
    port_.clear();
    return SerialResult::done();
}

void SerialPortTransport::close() {
    losing_ = false;
    if (port_.isOpen()) {
        port_.close();
    }
    lock_.release();
}

SerialResult SerialPortTransport::write(std::string_view bytes) {
    if (!port_.isOpen()) {
        return SerialResult::failed("the port is not open");
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(bytes.data(), size) != size) {
        return SerialResult::failed(port_.errorString().toStdString());
    }
    // Hand the frame to the driver now rather than on the next turn of the event loop.
    port_.flush();
    return SerialResult::done();
}

SerialResult SerialPortTransport::applySettings(const LineParams& params) {
    params_ = params;
    const bool ok =
        port_.setBaudRate(params.baud) && port_.setParity(toParity(params.parity)) &&
        port_.setDataBits(static_cast<QSerialPort::DataBits>(params.dataBits)) &&
        port_.setStopBits(params.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    return ok ? SerialResult::done() : SerialResult::failed(port_.errorString().toStdString());
}

void SerialPortTransport::onError(QSerialPort::SerialPortError error) {
    if (!port_.isOpen() || error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        return;
    }
    // A device that went away shows as a resource error (an adapter pulled) or as a read
    // that finds the line hung up (the other end of a pseudo-terminal gone).
    const bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!lost) {
        report({CommEvent::Kind::LineError, port_.errorString().toStdString()});
        return;
    }
    if (losing_) {
        return;
    }
    // Close it so nothing spins on a dead descriptor, and say so once. Closing from inside the
    // port's own notification is not safe, so it happens on the next turn of the event loop.
    losing_ = true;
    const std::string how = port_.errorString().toStdString();
    QTimer::singleShot(0, &port_, [this, how] {
        if (!losing_) {
            return;
        }
        losing_ = false;
        if (port_.isOpen()) {
            port_.close();
            lock_.release();
            report({CommEvent::Kind::DeviceLost, how});
        }
    });
}

}  // namespace pj
