#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/transport_serial_control.h"

namespace pj::posix {

// A serial port of this machine: its device, and what the system says it is (the product
// and its maker; empty when the system says nothing).
struct SerialPortEntry {
    std::string device;
    std::string description;
};

// The machine's serial ports, in the order of their device paths: the devices behind
// /dev/serial/by-id, and the terminals of /sys/class/tty that stand for a device (a legacy
// UART slot with no chip behind it is left out).
std::vector<SerialPortEntry> serialPorts();

// The USB adapter behind a serial device (its path, links resolved); nothing when the
// device is not on USB or is not there.
std::optional<UsbIdentity> usbIdentity(const std::string& device);

}  // namespace pj::posix
