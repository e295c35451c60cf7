// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "support/process.h"

namespace pj::test {

// A mosquitto of the caller's own on the loopback interface, with no persistence: a restart
// forgets every retained message. Ended by its PID when stopped or destroyed.
class Mosquitto {
  public:
    struct Options {
        int port = 0;  // 0: a free one
        std::string program = "mosquitto";
        // Lines added to the configuration; DIR in them stands for the broker's own folder,
        // where the caller may put its files (dir()).
        std::string config;
        bool anonymous = true;        // clients without a login are taken
        Stream err = Stream::null();  // where its own messages go
    };

    Mosquitto() : Mosquitto(Options{}) {}
    explicit Mosquitto(Options options);
    ~Mosquitto();
    Mosquitto(const Mosquitto&) = delete;
    Mosquitto& operator=(const Mosquitto&) = delete;

    // Starts it and waits until it takes connections (for at most `limit`).
    bool start(Process::Duration limit = Process::kDeadline);
    // Ends it, by SIGTERM, and reaps it.
    void stop();
    bool running() const { return broker_ != nullptr && broker_->started(); }
    int port() const { return options_.port; }
    pid_t pid() const { return running() ? broker_->pid() : -1; }
    // Its folder, removed with everything in it when the broker goes.
    const std::string& dir() const { return dir_; }

  private:
    Options options_;
    std::string dir_;
    std::unique_ptr<Process> broker_;
};

}  // namespace pj::test
