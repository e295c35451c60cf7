#include "posix/posix_serial_control.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "link/line_settings.h"
#include "link/tcp_endpoint.h"
#include "posix/serial_device_transport.h"
#include "posix/tcp_transport.h"

namespace pj::posix {

namespace fs = std::filesystem;

PosixSerialControl::PosixSerialControl(EventLoop& loop) : loop_(loop) {}

PosixSerialControl::~PosixSerialControl() {
    onComm_ = nullptr;
    if (transport_) {
        transport_->close();
    }
}

void PosixSerialControl::setDevice(int port, const std::string& device) {
    if (port == 1 || port == 2) {
        devices_[static_cast<std::size_t>(port - 1)] = device;
    }
}

std::string PosixSerialControl::device(int port) const {
    return (port == 1 || port == 2) ? devices_[static_cast<std::size_t>(port - 1)] : std::string();
}

SerialResult PosixSerialControl::setCommPort(int port) {
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

SerialResult PosixSerialControl::setSettings(std::string_view settings) {
    const auto params = parseLineSettings(settings);
    if (!params) {
        return SerialResult::failed("Invalid line settings");
    }
    settings_ = settings;
    return transport_ ? transport_->applySettings(*params) : SerialResult::done();
}

SerialResult PosixSerialControl::setPortOpen(bool open) {
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

void PosixSerialControl::onTransportEvent(CommEvent event) {
    if (event.kind == CommEvent::Kind::DeviceLost) {
        retrying_ = true;
        event.sameDeviceKnown =
            isTcpDevice(identity_.device) || identity_.byLink || identity_.usb.has_value();
    }
    if (onComm_) {
        onComm_(event);
    }
}

SerialResult PosixSerialControl::openDevice(const std::string& name) {
    // The device itself, whatever it was called: one device, one lock, under any name.
    std::error_code ec;
    const fs::path canonical = fs::canonical(name, ec);
    const std::string resolved = ec ? name : canonical.string();
    const std::optional<UsbIdentity> usb = usbIdentity(resolved);
    if (retrying_ && identity_.device == name && identity_.usb && usb != identity_.usb) {
        return SerialResult::failed("another device is there now");
    }
    if (!transport_ || transportDevice_ != resolved) {
        transport_ = std::make_unique<SerialDeviceTransport>(loop_, resolved);
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
        identity_.byLink = fs::is_symlink(name, ec);
        identity_.usb = usb;
    }
    return result;
}

SerialResult PosixSerialControl::open() {
    const std::string name = device(port_);
    if (!isTcpDevice(name)) {
        return openDevice(name);
    }
    if (!transport_ || transportDevice_ != name) {
        std::string problem;
        const std::optional<TcpEndpoint> endpoint = parseTcpDevice(name, &problem);
        if (!endpoint) {
            return SerialResult::failed(problem);
        }
        transport_ = std::make_unique<TcpTransport>(loop_, *endpoint);
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

SerialResult PosixSerialControl::output(std::string_view bytes) {
    if (!transport_) {
        return SerialResult::failed("the port is not open");
    }
    return transport_->write(bytes);
}

}  // namespace pj::posix
