// SPDX-License-Identifier: Apache-2.0
#include "shell/quit_on_signal.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <csignal>

namespace pj {

namespace {

// The one pair of the process: the handler writes to [0], the event loop reads [1].
std::array<int, 2> wakeFds{-1, -1};
constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

extern "C" void onSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; a full pipe already holds a wake-up. (A cast
    // to void does not quiet write()'s warn_unused_result under _FORTIFY_SOURCE.)
    [[maybe_unused]] const auto written = ::write(wakeFds[0], &byte, 1);
}

}  // namespace

QuitOnSignal::QuitOnSignal(std::function<void()> quit) : quit_(std::move(quit)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeFds.data()) != 0) {
        return;  // signals then end the program as they would anyway
    }
    notifier_ = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        std::array<char, 16> drained{};
        while (::read(wakeFds[1], drained.data(), drained.size()) > 0) {
        }
        if (quit_) {
            quit_();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

QuitOnSignal::~QuitOnSignal() {
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    delete notifier_;
    notifier_ = nullptr;
    for (int& fd : wakeFds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

}  // namespace pj
