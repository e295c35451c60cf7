// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>

namespace pj {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the event loop, so that a program ended by
// a signal (kill, timeout, Ctrl+C, a closed terminal) still closes its port as "END" does:
// a port left open by a process that simply died stays locked for others.
class QuitOnSignal final : public QObject {
  public:
    explicit QuitOnSignal(std::function<void()> quit);
    ~QuitOnSignal() override;
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

  private:
    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace pj
