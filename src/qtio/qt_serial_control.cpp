// SPDX-License-Identifier: Apache-2.0
#include "qtio/qt_serial_control.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include "qtio/local_socket_transport.h"
#include "qtio/serial_port_transport.h"
#include "qtio/tcp_transport.h"

namespace pj {

QtSerialControl::QtSerialControl() {
#ifdef Q_OS_WIN
    setDevice(1, std::string("COM1"));
    setDevice(2, std::string("COM2"));
#endif
}

DeviceFacts QtSerialControl::examine(const std::string& name) const {
    const QFileInfo file(QString::fromStdString(name));
    DeviceFacts facts;
    facts.resolved = file.exists() ? file.canonicalFilePath().toStdString() : name;
    facts.byLink = file.isSymLink();
#ifndef Q_OS_WIN
    struct stat status {};
    if (::stat(name.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
        facts.socket = true;
        return facts;
    }
#endif
    const QSerialPortInfo info(QString::fromStdString(facts.resolved));
    if (info.hasVendorIdentifier()) {
        facts.usb = UsbIdentity{QString::number(info.vendorIdentifier(), 16).toStdString(),
                                QString::number(info.productIdentifier(), 16).toStdString(),
                                info.serialNumber().toStdString()};
    }
    return facts;
}

std::unique_ptr<Transport> QtSerialControl::makeDeviceTransport(const std::string& resolved) {
    return std::make_unique<SerialPortTransport>(QString::fromStdString(resolved));
}

std::unique_ptr<Transport> QtSerialControl::makeNetworkTransport(const TcpEndpoint& endpoint) {
    return std::make_unique<TcpTransport>(endpoint);
}

std::unique_ptr<Transport> QtSerialControl::makeLocalSocketTransport(const std::string& path) {
    return std::make_unique<LocalSocketTransport>(path);
}

}  // namespace pj
