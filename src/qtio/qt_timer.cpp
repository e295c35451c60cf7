// SPDX-License-Identifier: Apache-2.0
#include "qtio/qt_timer.h"

namespace pj {

QtTimer::QtTimer() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (handler_) {
            handler_();
        }
    });
}

void QtTimer::setInterval(int ms) {
    // QTimer restarts a running timer with the new interval, as the core expects.
    timer_.setInterval(ms);
}

void QtTimer::setEnabled(bool enabled) {
    if (enabled) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

void QtTimer::setOnTimer(std::function<void()> handler) {
    handler_ = std::move(handler);
}

}  // namespace pj
