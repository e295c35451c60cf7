#include "qtio/qt_serial_control.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include "link/line_settings.h"
#include "qtio/serial_port_transport.h"
#include "qtio/tcp_transport.h"

namespace pj {

QtSerialControl::QtSerialControl() {
#ifdef Q_OS_WIN
    devices_ = {QStringLiteral("COM1"), QStringLiteral("COM2")};
#else
    devices_ = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")};
#endif
}

QtSerialControl::~QtSerialControl() {
    onComm_ = nullptr;
    if (transport_) {
        transport_->close();
    }
}

void QtSerialControl::setDevice(int port, const QString& device) {
    if (port == 1 || port == 2) {
        devices_[static_cast<std::size_t>(port - 1)] = device;
    }
}

QString QtSerialControl::device(int port) const {
    return (port == 1 || port == 2) ? devices_[static_cast<std::size_t>(port - 1)] : QString();
}

SerialResult QtSerialControl::setCommPort(int port) {
    if (port != 1 && port != 2) {
        return SerialResult::failed("Invalid port number");
    }
    if (portOpen()) {
        return SerialResult::failed("Port is already open");
    }
    port_ = port;
    // The operator's choice: whatever is there now is taken.
    retrying_ = false;
    // An attempt to reach the previous port is given up.
    if (transport_ && transport_->opening()) {
        transport_->close();
    }
    return SerialResult::done();
}

SerialResult QtSerialControl::setSettings(std::string_view settings) {
    const auto params = parseLineSettings(settings);
    if (!params) {
        return SerialResult::failed("Invalid line settings");
    }
    settings_ = settings;
    return transport_ ? transport_->applySettings(*params) : SerialResult::done();
}

SerialResult QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (transport_) {
            transport_->close();
        }
        return SerialResult::done();
    }
    if (portOpen()) {
        return SerialResult::failed("Port is already open");
    }
    return this->open();
}

void QtSerialControl::onTransportEvent(CommEvent event) {
    if (event.kind == CommEvent::Kind::DeviceLost) {
        retrying_ = true;
        event.sameDeviceKnown = isTcpDevice(identity_.device) || identity_.byLink || identity_.usb;
    }
    if (onComm_) {
        onComm_(event);
    }
}

SerialResult QtSerialControl::openDevice(const QString& name) {
    // The device itself, whatever it was called: one device, one lock, under any name.
    const QFileInfo file(name);
    const QString resolved = file.exists() ? file.canonicalFilePath() : name;
    const QSerialPortInfo info(resolved);
    if (retrying_ && identity_.device == name && identity_.usb &&
        (info.vendorIdentifier() != identity_.vendor ||
         info.productIdentifier() != identity_.product ||
         info.serialNumber() != identity_.serialNumber)) {
        return SerialResult::failed("another device is there now");
    }
    if (!transport_ || transportDevice_ != resolved) {
        transport_ = std::make_unique<SerialPortTransport>(resolved);
        transportDevice_ = resolved;
        transport_->setOnEvent([this](const CommEvent& event) { onTransportEvent(event); });
    }
    if (const auto params = parseLineSettings(settings_)) {
        if (const SerialResult applied = transport_->applySettings(*params); applied.failed()) {
            return applied;
        }
    }
    SerialResult result = transport_->open();
    if (!result.failed()) {
        retrying_ = false;
        identity_.device = name;
        identity_.byLink = file.isSymLink();
        identity_.usb = info.hasVendorIdentifier();
        identity_.vendor = info.vendorIdentifier();
        identity_.product = info.productIdentifier();
        identity_.serialNumber = info.serialNumber();
    }
    return result;
}

SerialResult QtSerialControl::open() {
    const QString name = device(port_);
    if (!isTcpDevice(name)) {
        return openDevice(name);
    }
    if (!transport_ || transportDevice_ != name) {
        QString problem;
        const std::optional<TcpEndpoint> endpoint = parseTcpDevice(name, &problem);
        if (!endpoint) {
            return SerialResult::failed(problem.toStdString());
        }
        transport_ = std::make_unique<TcpTransport>(*endpoint);
        transportDevice_ = name;
        transport_->setOnEvent([this](const CommEvent& event) { onTransportEvent(event); });
    }
    identity_ = Identity{};
    identity_.device = name;
    if (const auto params = parseLineSettings(settings_)) {
        if (const SerialResult applied = transport_->applySettings(*params); applied.failed()) {
            return applied;
        }
    }
    return transport_->open();
}

SerialResult QtSerialControl::output(std::string_view bytes) {
    if (!transport_) {
        return SerialResult::failed("the port is not open");
    }
    return transport_->write(bytes);
}

}  // namespace pj
