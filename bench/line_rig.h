// SPDX-License-Identifier: Apache-2.0
#pragma once

// The panel on a simulated line, in this process: the real window (QtWindow, on Qt's
// offscreen platform), the core, QSerialPort, QTimer and the steady clock, wired as the
// program's main() wires them, with the simulator serving a pseudo-terminal. Presses and
// releases are mouse events delivered to the button widgets through Qt's event system. The
// simulator's trace reports each frame as its last byte is read; the time is taken there, on
// the simulator's thread.

#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/form.h"
#include "core/control_id.h"
#include "core/timer.h"
#include "qtio/qt_clock.h"
#include "qtio/qt_serial_control.h"
#include "qtio/qt_timer.h"
#include "shell/qt_window.h"
#include "sim/line_server.h"
#include "stats.h"
#include "timing_options.h"

namespace pj::bench {

// Frames as the simulator reads their last byte, stamped on its thread.
class Arrivals {
  public:
    struct Frame {
        TimePoint at;
        std::string text;
    };

    void add(std::string_view text) {
        const TimePoint now = Steady::now();
        {
            std::lock_guard lock(mutex_);
            frames_.push_back({now, std::string(text)});
        }
        arrived_.notify_all();
    }

    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }

    // Waits, without running the event loop, until more than `index` frames have come.
    std::optional<Frame> waitFor(std::size_t index, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return frames_.size() > index; })) {
            return std::nullopt;
        }
        return frames_[index];
    }

    std::vector<Frame> since(std::size_t index) const {
        std::lock_guard lock(mutex_);
        if (index >= frames_.size()) {
            return {};
        }
        return {frames_.begin() + static_cast<std::ptrdiff_t>(index), frames_.end()};
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Frame> frames_;
};

// Runs the event loop for `ms`, sleeping in it between events.
void runFor(int ms);

// The program's window, core, serial control, timers and clock, wired as main() wires them,
// on a line served by the simulator; shown, and the line quiet, once made. Ends the program
// when the simulator or the panel's port does not start.
class PanelOnLine {
  public:
    PanelOnLine(pj::sim::LineOptions options, Arrivals& arrivals, RepeatTimer repeatTimer);
    ~PanelOnLine();
    PanelOnLine(const PanelOnLine&) = delete;
    PanelOnLine& operator=(const PanelOnLine&) = delete;

    // The widget of a button; ends the program when the window has none.
    QWidget* button(ControlId id) const;

    Form& form() { return form_; }

  private:
    FormTimers timers();

    std::unique_ptr<pj::sim::LineServer> server_;
    QtSerialControl serial_;
    QtFormTimers qtTimers_;
    // With --repeat-timer sleep, the repeat timer and the line pacer the core is given in
    // place of the program's own (which are then left idle); empty otherwise.
    std::unique_ptr<Timer> sleepRepeat_;
    std::unique_ptr<Timer> sleepPacer_;
    SteadyClock clock_;
    QtWindow window_;
    Form form_;
};

void press(QWidget* button);
void release(QWidget* button);

// A short press of "D.Zoom" "+": its release leaves the cursor pad repeating every 5 ms. Waits
// until its frame is on the line, so that it is not taken for part of the next hold.
void digitalZoomClick(PanelOnLine& panel, Arrivals& arrivals);

}  // namespace pj::bench
