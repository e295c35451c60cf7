// SPDX-License-Identifier: Apache-2.0
#include "shell/quit_on_signal.h"

#include <csignal>

namespace pj {

QuitOnSignal::QuitOnSignal(std::function<void()> quit)
    : watch_({SIGTERM, SIGINT, SIGHUP}, std::move(quit)) {
    if (watch_.fd() < 0) {
        return;  // signals then end the program as they would anyway
    }
    notifier_ = std::make_unique<QSocketNotifier>(watch_.fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { watch_.takeSignals(); });
}

}  // namespace pj
