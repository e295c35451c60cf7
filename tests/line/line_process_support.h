// SPDX-License-Identifier: Apache-2.0
#pragma once

// pjline and pjctl run as processes beside a simulated projector, for the line server's
// end-to-end tests.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/line_wire.h"
#include "support/process.h"

namespace pj::line::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous, for a loaded machine under the sanitizers.
constexpr auto kDeadline = 20s;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using pj::test::freePort;
using pj::test::Process;
using pj::test::Ran;
using pj::test::runToEnd;
using pj::test::waitFor;

// A plain client of the line on a blocking socket: what a script or a device server's
// client would be.
class RawClient {
  public:
    static RawClient local(const std::string& path) {
        RawClient c(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        c.connected_ = ::connect(c.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        return c;
    }
    static RawClient tcp(int port) {
        RawClient c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        c.connected_ = ::connect(c.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        return c;
    }
    RawClient(RawClient&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), connected_(other.connected_) {}
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    bool send(std::string_view bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads what comes until `heard` holds of all read so far; false at the deadline or when
    // the server closes the connection.
    bool readUntil(const std::function<bool(const std::string&)>& done,
                   Clock::duration deadline = kDeadline) {
        const auto until = Clock::now() + deadline;
        while (!done(heard)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            heard.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    bool hears(std::string_view text, Clock::duration deadline = kDeadline) {
        return readUntil([text](const std::string& h) { return h.find(text) != h.npos; }, deadline);
    }

    // Opens as a client that takes pjline's messages, and sends `records` after the hello.
    bool greet(const std::string& records = {}) {
        hello_ = wire::hello(wire::freshNonce());
        return send(hello_ + records);
    }
    // Of a client that greeted: what it read as the line's bytes, and as messages.
    std::pair<std::string, std::vector<std::string>> decoded() const {
        wire::ClientReader reader(hello_);
        std::vector<wire::Record> records;
        reader.take(heard, records);
        std::pair<std::string, std::vector<std::string>> out;
        for (const wire::Record& r : records) {
            if (r.type == wire::RecordType::Data) {
                out.first += r.payload;
            } else {
                out.second.push_back(r.payload);
            }
        }
        return out;
    }
    bool hearsData(std::string_view text) {
        return readUntil([&](const std::string&) { return decoded().first.find(text) != npos; });
    }
    bool hearsMessage(const std::string& text) {
        return readUntil([&](const std::string&) {
            const auto messages = decoded().second;
            return std::find(messages.begin(), messages.end(), text) != messages.end();
        });
    }
    // Whether the server closed the connection.
    bool closedByServer(Clock::duration deadline = kDeadline) {
        return !readUntil([](const std::string&) { return false; }, deadline) && gone();
    }

    std::string heard;

  private:
    static constexpr auto npos = std::string::npos;
    explicit RawClient(int fd) : fd_(fd) {}
    bool gone() const {
        char c;
        return ::recv(fd_, &c, 1, MSG_DONTWAIT) == 0;
    }
    int fd_;
    bool connected_ = false;
    std::string hello_;
};

// A message from a client that greeted.
inline std::string msg(std::string_view text) {
    return wire::encode(wire::RecordType::Message, text);
}

}  // namespace pj::line::test
