// SPDX-License-Identifier: Apache-2.0
// The serial ports of a machine, read from a fake /dev and /sys tree laid out as Linux lays
// them out: by-id links, USB devices above their interfaces and ports, drivers as links.
#include "link/serial_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace pj {
namespace {

namespace fs = std::filesystem;

struct Adapter {
    std::string tty;  // "ttyUSB0"
    std::string byId;
    std::string vendor, product, serial, productName, maker, driver;
    std::string latency;  // empty: the driver has no latency timer
};

const Adapter kFtdi{"ttyUSB0",  "usb-FTDI_FT232R_USB_UART_A10K3JQ2-if00-port0",
                    "0403",     "6001",
                    "A10K3JQ2", "FT232R USB UART",
                    "FTDI",     "ftdi_sio",
                    "16"};
const Adapter kProlific{"ttyUSB1",
                        "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0",
                        "067b",
                        "2303",
                        "",
                        "USB-Serial Controller",
                        "Prolific Technology Inc.",
                        "pl2303",
                        ""};

class FakeTree {
  public:
    FakeTree() {
        std::string name = (fs::temp_directory_path() / "pjports.XXXXXX").string();
        root_ = ::mkdtemp(name.data());
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    const fs::path& root() const { return root_; }

    void file(const fs::path& path, const std::string& text = {}) const {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text << "\n";
    }
    // A relative link, as the kernel and udev make them, so that the tree can live anywhere.
    void link(const fs::path& path, const fs::path& target) const {
        fs::create_directories((root_ / path).parent_path());
        fs::create_directories(root_ / target);
        fs::create_symlink(fs::relative(root_ / target, (root_ / path).parent_path()),
                           root_ / path);
    }
    void deviceLink(const fs::path& path, const fs::path& target) const {
        fs::create_directories((root_ / path).parent_path());
        fs::create_symlink(fs::relative(root_ / target, (root_ / path).parent_path()),
                           root_ / path);
    }

    void addAdapter(const Adapter& a, int busPort) const {
        const fs::path usb = "sys/devices/pci0000:00/usb1/1-" + std::to_string(busPort);
        for (const auto& [name, value] :
             {std::pair{"idVendor", a.vendor}, std::pair{"idProduct", a.product},
              std::pair{"product", a.productName}, std::pair{"manufacturer", a.maker}}) {
            file(usb / name, value);
        }
        if (!a.serial.empty()) {
            file(usb / "serial", a.serial);
        }
        const fs::path port = usb / (usb.filename().string() + ":1.0") / a.tty;
        link(port / "driver", "sys/bus/usb-serial/drivers/" + a.driver);
        link("sys/class/tty/" + a.tty, port / "tty" / a.tty);
        link(port / "tty" / a.tty / "device", port);
        if (!a.latency.empty()) {
            file(port / "latency_timer", a.latency);
            link("sys/bus/usb-serial/devices/" + a.tty, port);
        }
        file("dev/" + a.tty);
        deviceLink("dev/serial/by-id/" + a.byId, "dev/" + a.tty);
    }

    // A UART slot: with a chip behind it (type 4) or without (type 0).
    void addUart(const std::string& tty, const std::string& type) const {
        const fs::path device = "sys/devices/platform/serial8250/" + tty;
        link(device / "driver", "sys/bus/platform/drivers/serial8250");
        link("sys/class/tty/" + tty, device / "tty" / tty);
        link(device / "tty" / tty / "device", device);
        file(device / "tty" / tty / "type", type);
        file("dev/" + tty);
    }

  private:
    fs::path root_;
};

TEST(SerialPorts, ScanGivesEachPortWithWhatTheSystemSaysOfIt) {
    FakeTree tree;
    tree.addAdapter(kFtdi, 1);
    tree.addAdapter(kProlific, 2);
    tree.addUart("ttyS0", "4");
    tree.addUart("ttyS1", "0");                                       // no chip: left out
    tree.link("sys/class/tty/tty0", "sys/devices/virtual/tty/tty0");  // no device: left out
    tree.file("dev/tty0");

    struct Expected {
        std::string device, byId, vidPid, serial, description, driver;
        std::optional<int> latency;
    };
    const std::vector<Expected> expected{
        {"/dev/ttyS0", "", ":", "", "", "serial8250", std::nullopt},
        {"/dev/ttyUSB0", "/dev/serial/by-id/" + kFtdi.byId, "0403:6001", "A10K3JQ2",
         "FT232R USB UART FTDI", "ftdi_sio", 16},
        {"/dev/ttyUSB1", "/dev/serial/by-id/" + kProlific.byId, "067b:2303", "",
         "USB-Serial Controller Prolific Technology Inc.", "pl2303", std::nullopt},
    };
    const std::vector<SerialPortFacts> ports = scanSerialPorts(tree.root());
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const SerialPortFacts& p = ports[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.device);
        EXPECT_EQ(p.device, e.device);
        EXPECT_EQ(p.byId.empty() ? "" : p.byId.front(), e.byId);
        EXPECT_EQ(p.vendorId + ":" + p.productId, e.vidPid);
        EXPECT_EQ(p.serialNumber, e.serial);
        EXPECT_EQ(p.description(), e.description);
        EXPECT_EQ(p.driver, e.driver);
        EXPECT_EQ(p.latencyTimerMs, e.latency);
    }

    // One device by any of its names.
    const auto byLink = serialPortFacts("/dev/serial/by-id/" + kFtdi.byId, tree.root());
    ASSERT_TRUE(byLink);
    EXPECT_EQ(byLink->device, "/dev/ttyUSB0");
    EXPECT_EQ(usbIdentity("/dev/ttyUSB0", tree.root()), (UsbIdentity{"0403", "6001", "A10K3JQ2"}));
    EXPECT_FALSE(usbIdentity("/dev/ttyS0", tree.root()));
    EXPECT_FALSE(serialPortFacts("/dev/ttyUSB7", tree.root()));
    EXPECT_EQ(
        portDescription("/dev/serial/by-id/" + kFtdi.byId, tree.root()),
        "/dev/serial/by-id/" + kFtdi.byId + " (/dev/ttyUSB0, USB 0403:6001, FT232R USB UART FTDI)");
    EXPECT_EQ(portDescription("/dev/ttyS0", tree.root()), "/dev/ttyS0");
    EXPECT_EQ(portDescription("/dev/ttyS3", tree.root()), "/dev/ttyS3 (not there now)");
}

TEST(SerialPorts, DefaultPortsAreTheUsbAdaptersByTheirLinksThenTheBuiltInPorts) {
    struct Case {
        std::vector<Adapter> adapters;
        std::array<std::string, 2> ports;
    };
    const std::string ftdi = "/dev/serial/by-id/" + kFtdi.byId;
    const std::string prolific = "/dev/serial/by-id/" + kProlific.byId;
    const Case cases[] = {
        {{}, {"/dev/ttyS0", "/dev/ttyS1"}},
        {{kProlific}, {prolific, "/dev/ttyS0"}},
        // In the order of the links' names, not of the devices.
        {{kProlific, kFtdi}, {ftdi, prolific}},
    };
    for (const Case& c : cases) {
        FakeTree tree;
        tree.addUart("ttyS0", "4");
        int busPort = 1;
        for (const Adapter& a : c.adapters) {
            tree.addAdapter(a, busPort++);
        }
        SCOPED_TRACE(c.adapters.size());
        EXPECT_EQ(defaultPortDevices(tree.root()), c.ports);
    }
}

}  // namespace
}  // namespace pj
