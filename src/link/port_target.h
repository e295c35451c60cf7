// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pj {

// What tells a USB adapter from another: its vendor and product numbers and serial number.
struct UsbIdentity {
    std::string vendor;
    std::string product;
    std::string serialNumber;

    bool operator==(const UsbIdentity&) const = default;
};

// What the system says of a serial device's name.
struct DeviceFacts {
    std::string resolved;            // the device itself, links followed
    bool byLink = false;             // the name is a symbolic link: the operator's stable name
    std::optional<UsbIdentity> usb;  // the USB adapter behind it, if it is one
    bool socket = false;             // it is a local (AF_UNIX) socket, not a device
};

// How a line server's own word on why its line went away begins, in a DeviceLost event's
// data: told to the operator as it is.
constexpr std::string_view kLineServerSays = "pjline: ";

// True when `name` is written "unix:PATH": a line server's local socket.
bool isLocalSocketName(std::string_view name);
// The socket's path a "unix:PATH" name stands for (an absolute path), or a description of
// what is wrong with it.
std::optional<std::string> parseLocalSocketName(std::string_view name,
                                                std::string* error = nullptr);

// What a port's name reaches: a serial device, a serial device server ("tcp://HOST:PORT"),
// or a line server's local socket ("unix:PATH", or a path that is a socket).
struct PortTarget {
    enum class Kind { Device, Network, LocalSocket, Invalid };
    Kind kind = Kind::Device;
    // Device: the name as given; Network: the tcp:// name; LocalSocket: the socket's path;
    // Invalid: what is wrong with the name.
    std::string where;
    // Device and LocalSocket named by a plain path: what the system said of it.
    DeviceFacts facts;
};

// `examine` is asked only of a plain path, never of a tcp:// or unix: name.
PortTarget portTarget(const std::string& name,
                      const std::function<DeviceFacts(const std::string&)>& examine);

}  // namespace pj
