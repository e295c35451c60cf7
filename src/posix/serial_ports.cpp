#include "posix/serial_ports.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace pj::posix {

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

std::string trimmed(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// The nearest device above the terminal `name` that has the sysfs attribute `file`.
std::optional<fs::path> deviceWith(const std::string& name, const char* file) {
    std::error_code ec;
    fs::path at = fs::canonical(fs::path("/sys/class/tty") / name / "device", ec);
    for (int up = 0; !ec && up < 5 && at.has_relative_path(); ++up, at = at.parent_path()) {
        if (fs::exists(at / file, ec)) {
            return at;
        }
    }
    return std::nullopt;
}

// The product and maker the device's bus (USB) gives.
std::string description(const std::string& name) {
    const std::optional<fs::path> at = deviceWith(name, "product");
    return at ? trimmed(firstLine(*at / "product") + " " + firstLine(*at / "manufacturer"))
              : std::string();
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

}  // namespace

std::vector<SerialPortEntry> serialPorts() {
    std::map<std::string, std::string> found;  // device -> terminal name
    std::error_code ec;
    for (const auto& link : fs::directory_iterator("/dev/serial/by-id", ec)) {
        std::error_code resolved;
        const fs::path device = fs::canonical(link.path(), resolved);
        if (!resolved) {
            found.emplace(device.string(), device.filename().string());
        }
    }
    for (const auto& tty : fs::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = tty.path().filename().string();
        std::error_code exists;
        if (isSerialPort(tty.path()) && fs::exists("/dev/" + name, exists)) {
            found.emplace("/dev/" + name, name);
        }
    }
    std::vector<SerialPortEntry> ports;
    for (const auto& [device, name] : found) {
        ports.push_back({device, description(name)});
    }
    return ports;
}

std::optional<UsbIdentity> usbIdentity(const std::string& device) {
    const std::optional<fs::path> at = deviceWith(fs::path(device).filename().string(), "idVendor");
    if (!at) {
        return std::nullopt;
    }
    return UsbIdentity{firstLine(*at / "idVendor"), firstLine(*at / "idProduct"),
                       firstLine(*at / "serial")};
}

}  // namespace pj::posix
