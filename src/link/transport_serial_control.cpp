// SPDX-License-Identifier: Apache-2.0
#include "link/transport_serial_control.h"

#include "link/line_settings.h"

namespace pj {

TransportSerialControl::~TransportSerialControl() {
    closeTransport();
}

void TransportSerialControl::closeTransport() {
    onComm_ = nullptr;
    if (transport_) {
        transport_->close();
        transport_.reset();
    }
}

void TransportSerialControl::setDevice(int port, const std::string& device) {
    if (port == 1 || port == 2) {
        devices_[static_cast<std::size_t>(port - 1)] = device;
    }
}

std::string TransportSerialControl::device(int port) const {
    return (port == 1 || port == 2) ? devices_[static_cast<std::size_t>(port - 1)] : std::string();
}

SerialResult TransportSerialControl::setCommPort(int port) {
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

SerialResult TransportSerialControl::setSettings(std::string_view settings) {
    const auto params = parseLineSettings(settings);
    if (!params) {
        return SerialResult::failed("Invalid line settings");
    }
    settings_ = settings;
    return transport_ ? transport_->applySettings(*params) : SerialResult::done();
}

SerialResult TransportSerialControl::setPortOpen(bool open) {
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

SerialResult TransportSerialControl::output(std::string_view bytes) {
    if (!transport_) {
        return SerialResult::failed("the port is not open");
    }
    return transport_->write(bytes);
}

void TransportSerialControl::onTransportEvent(CommEvent event) {
    if (event.kind == CommEvent::Kind::DeviceLost) {
        retrying_ = true;
        event.sameDeviceKnown = identity_.byName || identity_.byLink || identity_.usb.has_value();
    }
    if (onComm_) {
        onComm_(event);
    }
}

void TransportSerialControl::adopt(std::unique_ptr<Transport> transport, const std::string& key) {
    transport_ = std::move(transport);
    transportDevice_ = key;
    transport_->setOnEvent([this](const CommEvent& event) { onTransportEvent(event); });
}

SerialResult TransportSerialControl::openTransport() {
    if (const auto params = parseLineSettings(settings_)) {
        if (const SerialResult applied = transport_->applySettings(*params); applied.failed()) {
            return applied;
        }
    }
    return transport_->open();
}

SerialResult TransportSerialControl::openDevice(const std::string& name, const DeviceFacts& facts) {
    // The device itself, whatever it was called: one device, one lock, under any name.
    if (retrying_ && identity_.device == name && identity_.usb && facts.usb != identity_.usb) {
        return SerialResult::failed("another device is there now");
    }
    if (!transport_ || transportDevice_ != facts.resolved) {
        adopt(makeDeviceTransport(facts.resolved), facts.resolved);
    }
    SerialResult result = openTransport();
    if (!result.failed()) {
        retrying_ = false;
        identity_ = Identity{name, facts.byLink, facts.usb, false};
    }
    return result;
}

SerialResult TransportSerialControl::openByName(
    const std::string& key, const std::function<std::unique_ptr<Transport>()>& make) {
    if (!transport_ || transportDevice_ != key) {
        adopt(make(), key);
    }
    identity_ = Identity{device(port_), false, std::nullopt, true};
    return openTransport();
}

SerialResult TransportSerialControl::open() {
    const std::string name = device(port_);
    const PortTarget target =
        portTarget(name, [this](const std::string& path) { return examine(path); });
    switch (target.kind) {
        case PortTarget::Kind::Invalid:
            return SerialResult::failed(target.where);
        case PortTarget::Kind::Network:
            return openByName(name, [&] { return makeNetworkTransport(*parseTcpDevice(name)); });
        case PortTarget::Kind::LocalSocket:
            // Keyed apart from a device of the same path, should the path change its kind.
            return openByName("unix:" + target.where,
                              [&] { return makeLocalSocketTransport(target.where); });
        case PortTarget::Kind::Device:
            break;
    }
    return openDevice(name, target.facts);
}

}  // namespace pj
