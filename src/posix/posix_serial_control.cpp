// SPDX-License-Identifier: Apache-2.0
#include "posix/posix_serial_control.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "link/serial_ports.h"

#include "posix/local_socket_transport.h"
#include "posix/serial_device_transport.h"
#include "posix/tcp_transport.h"

namespace pj::posix {

namespace fs = std::filesystem;

DeviceFacts PosixSerialControl::examine(const std::string& name) const {
    std::error_code ec;
    const fs::path canonical = fs::canonical(name, ec);
    DeviceFacts facts;
    facts.resolved = ec ? name : canonical.string();
    facts.byLink = fs::is_symlink(name, ec);
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        facts.socket = true;
        return facts;
    }
    facts.usb = usbIdentity(facts.resolved);
    return facts;
}

std::unique_ptr<Transport> PosixSerialControl::makeDeviceTransport(const std::string& resolved) {
    return std::make_unique<SerialDeviceTransport>(loop_, resolved);
}

std::unique_ptr<Transport> PosixSerialControl::makeNetworkTransport(const TcpEndpoint& endpoint) {
    return std::make_unique<TcpTransport>(loop_, endpoint);
}

std::unique_ptr<Transport> PosixSerialControl::makeLocalSocketTransport(const std::string& path) {
    return std::make_unique<LocalSocketTransport>(loop_, path);
}

}  // namespace pj::posix
