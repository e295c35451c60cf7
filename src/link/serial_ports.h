// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "link/transport_serial_control.h"

namespace pj {

// A serial port of this machine and what the system says of it. A fact the system does not
// give is empty (nothing for the latency timer).
struct SerialPortFacts {
    std::string device;             // "/dev/ttyUSB0"
    std::vector<std::string> byId;  // its links in /dev/serial/by-id, in name order
    std::string vendorId;           // USB vendor and product numbers, as sysfs writes them
    std::string productId;          // ("0403", "6001")
    std::string serialNumber;
    std::string product;  // the product and its maker, as the adapter names them
    std::string manufacturer;
    std::string driver;                 // the kernel driver: "ftdi_sio", "cdc_acm", "serial8250"
    std::optional<int> latencyTimerMs;  // an FTDI adapter's latency timer

    bool usb() const { return !vendorId.empty(); }
    // The product and its maker in one line; empty when the system names neither.
    std::string description() const;
};

// The machine's serial ports under `root` (the filesystem's root; a test gives a tree of its
// own), in the order of their device paths: the devices behind /dev/serial/by-id, and the
// terminals of /sys/class/tty that stand for a device (a legacy UART slot with no chip behind
// it is left out).
std::vector<SerialPortFacts> scanSerialPorts(const std::filesystem::path& root = "/");

// What is known of one serial device, named by its path (links are followed); nothing when
// there is no such device; a tcp:// name as it is.
std::optional<SerialPortFacts> serialPortFacts(const std::string& device,
                                               const std::filesystem::path& root = "/");

// The USB adapter behind a serial device (its path, links resolved); nothing when the
// device is not on USB or is not there.
std::optional<UsbIdentity> usbIdentity(const std::string& device,
                                       const std::filesystem::path& root = "/");

// The devices behind port 1 and port 2 when the operator names none: the first and second
// USB serial adapters in the order of their /dev/serial/by-id links, each by that link (so
// that the port finds its adapter again after a replug); /dev/ttyS0, then /dev/ttyS1, for
// what is left.
std::array<std::string, 2> defaultPortDevices(const std::filesystem::path& root = "/");

// A port's device in one line for the operator: the name, and where it leads, its USB
// numbers and the adapter's description when the system says; "(not there now)" when
// there is no such device; a tcp:// name as it is.
std::string portDescription(const std::string& device, const std::filesystem::path& root = "/");

// The udev rule that sets every FTDI adapter's latency timer to 1 ms when it is plugged in.
inline constexpr const char* kFtdiLatencyRule =
    R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVERS=="ftdi_sio", ATTR{latency_timer}="1")";

}  // namespace pj
