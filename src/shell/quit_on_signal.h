// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

#include "posix/signal_watch.h"

namespace pj {

// Turns SIGTERM, SIGINT and SIGHUP into a call on Qt's event loop, so that a program ended by
// a signal (kill, timeout, Ctrl+C, a closed terminal) still closes its port as "END" does:
// a port left open by a process that simply died stays locked for others. The signal watch
// is pjctl's and pjline's: a signal ignored at start (nohup) stays ignored.
class QuitOnSignal final : public QObject {
  public:
    explicit QuitOnSignal(std::function<void()> quit);
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

  private:
    posix::SignalWatch watch_;
    std::unique_ptr<QSocketNotifier> notifier_;  // gone before the watch's pipe closes
};

}  // namespace pj
