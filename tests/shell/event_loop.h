// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace pj::test {

// Runs the event loop, sleeping in it between events, until `done` holds or `ms` pass;
// says whether it held.
inline bool runUntil(const std::function<bool()>& done, int ms = 3000) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

inline void runFor(int ms) {
    runUntil([] { return false; }, ms);
}

}  // namespace pj::test
