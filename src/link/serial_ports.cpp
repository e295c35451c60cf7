// SPDX-License-Identifier: Apache-2.0
#include "link/serial_ports.h"

#include "link/port_target.h"
#include "link/tcp_endpoint.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

namespace pj {

namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// A path of the tree under `root` as the system names it ("/dev/ttyUSB0").
class Tree {
  public:
    explicit Tree(const fs::path& root) {
        std::error_code ec;
        root_ = fs::canonical(root, ec);
        if (ec) {
            root_ = root;
        }
    }

    fs::path at(const fs::path& systemPath) const { return root_ / systemPath.relative_path(); }

    // Where `systemPath` leads, links followed, as the system names it; nothing when it
    // leads nowhere or out of the tree.
    std::optional<std::string> resolve(const fs::path& systemPath) const {
        std::error_code ec;
        const fs::path real = fs::canonical(at(systemPath), ec);
        if (ec) {
            return std::nullopt;
        }
        const fs::path inside = real.lexically_relative(root_);
        if (inside.empty() || *inside.begin() == "..") {
            return std::nullopt;
        }
        return (fs::path("/") / inside).lexically_normal().string();
    }

    // The links of /dev/serial/by-id and the device each leads to, in link name order.
    std::vector<std::pair<std::string, std::string>> byIdLinks() const {
        std::vector<std::pair<std::string, std::string>> links;
        std::error_code ec;
        const fs::path folder = "/dev/serial/by-id";
        for (const auto& link : fs::directory_iterator(at(folder), ec)) {
            const fs::path name = folder / link.path().filename();
            if (const std::optional<std::string> device = resolve(name)) {
                links.emplace_back(name.string(), *device);
            }
        }
        std::sort(links.begin(), links.end());
        return links;
    }

  private:
    fs::path root_;
};

// The nearest device at or above `from` that has the sysfs attribute `file`.
std::optional<fs::path> deviceWith(fs::path from, const char* file) {
    std::error_code ec;
    for (int up = 0; up < 5 && from.has_relative_path(); ++up, from = from.parent_path()) {
        if (fs::exists(from / file, ec)) {
            return from;
        }
    }
    return std::nullopt;
}

// A terminal of /sys/class/tty that is a serial port: it has a device behind it, and a
// UART slot says it has a chip ("type" 0 is none).
bool isSerialPort(const fs::path& tty) {
    std::error_code ec;
    if (!fs::exists(tty / "device", ec)) {
        return false;
    }
    return !fs::exists(tty / "type", ec) || firstLine(tty / "type") != "0";
}

// What sysfs says of the terminal `name` ("ttyUSB0").
void readSysfs(const Tree& tree, const std::string& name, SerialPortFacts& facts) {
    std::error_code ec;
    const fs::path device = fs::canonical(tree.at("/sys/class/tty") / name / "device", ec);
    if (ec) {
        return;
    }
    const fs::path driver = fs::canonical(device / "driver", ec);
    if (!ec) {
        facts.driver = driver.filename().string();
    }
    if (const std::optional<fs::path> usb = deviceWith(device, "idVendor")) {
        facts.vendorId = firstLine(*usb / "idVendor");
        facts.productId = firstLine(*usb / "idProduct");
        facts.serialNumber = firstLine(*usb / "serial");
        facts.product = firstLine(*usb / "product");
        facts.manufacturer = firstLine(*usb / "manufacturer");
    }
    const fs::path latency = tree.at("/sys/bus/usb-serial/devices") / name / "latency_timer";
    if (fs::exists(latency, ec)) {
        const std::string text = firstLine(latency);
        int ms = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
        if (error == std::errc{} && end == text.data() + text.size()) {
            facts.latencyTimerMs = ms;
        }
    }
}

SerialPortFacts factsOf(const Tree& tree, const std::string& device,
                        const std::vector<std::pair<std::string, std::string>>& links) {
    SerialPortFacts facts;
    facts.device = device;
    for (const auto& [link, target] : links) {
        if (target == device) {
            facts.byId.push_back(link);
        }
    }
    readSysfs(tree, fs::path(device).filename().string(), facts);
    return facts;
}

}  // namespace

std::string SerialPortFacts::description() const {
    if (product.empty() || manufacturer.empty()) {
        return product + manufacturer;
    }
    return product + " " + manufacturer;
}

std::vector<SerialPortFacts> scanSerialPorts(const fs::path& root) {
    const Tree tree(root);
    const auto links = tree.byIdLinks();
    std::set<std::string> devices;  // in path order
    for (const auto& link : links) {
        devices.insert(link.second);
    }
    std::error_code ec;
    for (const auto& tty : fs::directory_iterator(tree.at("/sys/class/tty"), ec)) {
        const std::string name = tty.path().filename().string();
        std::error_code exists;
        if (isSerialPort(tty.path()) && fs::exists(tree.at("/dev") / name, exists)) {
            devices.insert("/dev/" + name);
        }
    }
    std::vector<SerialPortFacts> ports;
    for (const std::string& device : devices) {
        ports.push_back(factsOf(tree, device, links));
    }
    return ports;
}

std::optional<SerialPortFacts> serialPortFacts(const std::string& device, const fs::path& root) {
    const Tree tree(root);
    const std::optional<std::string> resolved = tree.resolve(device);
    if (!resolved) {
        return std::nullopt;
    }
    return factsOf(tree, *resolved, tree.byIdLinks());
}

std::optional<UsbIdentity> usbIdentity(const std::string& device, const fs::path& root) {
    const std::optional<SerialPortFacts> facts = serialPortFacts(device, root);
    if (!facts || !facts->usb()) {
        return std::nullopt;
    }
    return UsbIdentity{facts->vendorId, facts->productId, facts->serialNumber};
}

std::array<std::string, 2> defaultPortDevices(const fs::path& root) {
    std::vector<std::string> chosen;
    std::vector<std::string> taken;  // the adapters' devices: one port each
    for (const auto& [link, device] : Tree(root).byIdLinks()) {
        if (std::find(taken.begin(), taken.end(), device) == taken.end()) {
            taken.push_back(device);
            chosen.push_back(link);
        }
    }
    // The machine's own first ports stand in for adapters it does not have.
    chosen.insert(chosen.end(), {"/dev/ttyS0", "/dev/ttyS1"});
    return {chosen[0], chosen[1]};
}

std::string portDescription(const std::string& device, const fs::path& root) {
    if (isTcpDevice(device) || isLocalSocketName(device)) {
        return device;
    }
    const std::optional<SerialPortFacts> facts = serialPortFacts(device, root);
    if (!facts) {
        return device + " (not there now)";
    }
    std::string text = device;
    std::vector<std::string> notes;
    if (facts->device != device) {
        notes.push_back(facts->device);
    }
    if (facts->usb()) {
        notes.push_back("USB " + facts->vendorId + ":" + facts->productId);
    }
    if (!facts->description().empty()) {
        notes.push_back(facts->description());
    }
    for (std::size_t i = 0; i < notes.size(); ++i) {
        text += (i == 0 ? " (" : ", ") + notes[i];
    }
    return notes.empty() ? text : text + ")";
}

}  // namespace pj
