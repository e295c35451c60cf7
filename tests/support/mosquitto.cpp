// SPDX-License-Identifier: Apache-2.0
#include "support/mosquitto.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace pj::test {

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

Mosquitto::Mosquitto(Options options) : options_(std::move(options)) {
    if (options_.port == 0) {
        options_.port = freePort();
    }
    char dir[] = "/tmp/pj-mosquitto-XXXXXX";
    if (::mkdtemp(dir) != nullptr) {
        dir_ = dir;
    }
    std::ofstream(dir_ + "/mosquitto.conf")
        << "listener " << options_.port << " 127.0.0.1\n"
        << "allow_anonymous " << (options_.anonymous ? "true" : "false") << "\n"
        << "persistence false\n"
        << std::regex_replace(options_.config, std::regex("DIR"), dir_);
}

Mosquitto::~Mosquitto() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool Mosquitto::start(Process::Duration limit) {
    broker_ = std::make_unique<Process>(
        Launch({options_.program, "-c", dir_ + "/mosquitto.conf"}).errors(options_.err));
    const auto until = std::chrono::steady_clock::now() + limit;
    while (broker_->started() && !accepts(options_.port)) {
        if (std::chrono::steady_clock::now() > until || broker_->waitFor(std::chrono::seconds(0))) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return broker_->started();
}

void Mosquitto::stop() {
    if (broker_ != nullptr && broker_->started()) {
        broker_->stop(SIGTERM);
    }
    broker_.reset();
}

}  // namespace pj::test
