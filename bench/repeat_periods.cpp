// SPDX-License-Identifier: Apache-2.0
#include "repeat_periods.h"

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <map>
#include <string_view>

#include "line_rig.h"
#include "stats.h"

namespace pj::bench {

namespace {

// Sees, from outside the panel, when Qt delivers the events of its timers running at
// `period`. The repeat timer is the one with the most events: the reply window and the display
// hold, which may share its period, are started again by every send and seldom run out.
class TimerWatch : public QObject {
  public:
    explicit TimerWatch(int period) : period_(period) { qApp->installEventFilter(this); }
    ~TimerWatch() override { qApp->removeEventFilter(this); }
    TimerWatch(const TimerWatch&) = delete;
    TimerWatch& operator=(const TimerWatch&) = delete;

    std::vector<TimePoint> repeatTimer() const {
        std::vector<TimePoint> most;
        for (const auto& [timer, moments] : delivered_) {
            if (moments.size() > most.size()) {
                most = moments;
            }
        }
        return most;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            const auto* timer = qobject_cast<const QTimer*>(watched);
            if (timer != nullptr && timer->interval() == period_) {
                delivered_[timer].push_back(Steady::now());
            }
        }
        return false;
    }

  private:
    int period_;
    std::map<const QTimer*, std::vector<TimePoint>> delivered_;
};

// The period figures of a run of moments that should lie `period` apart.
void intervalFigures(const std::vector<TimePoint>& moments, HoldFigures& f) {
    std::vector<double> errors;
    for (std::size_t i = 1; i < moments.size(); ++i) {
        const double interval = msBetween(moments[i - 1], moments[i]);
        errors.push_back(std::abs(interval - f.period));
        if (interval > 1.5 * f.period) {
            ++f.skipped;
        }
    }
    f.p50 = percentile(errors, 50);
    f.p99 = percentile(errors, 99);
    f.max = percentile(errors, 100);
    if (moments.size() > 1) {
        f.meanInterval =
            msBetween(moments.front(), moments.back()) / static_cast<double>(moments.size() - 1);
    }
}

HoldFigures hold(PanelOnLine& panel, Arrivals& arrivals, ControlId control, int period, int holdMs,
                 std::string_view expected) {
    QWidget* button = panel.button(control);
    const std::size_t index = arrivals.count();
    std::vector<TimePoint> ticks;
    const TimePoint pressed = Steady::now();
    {
        TimerWatch watch(period);
        press(button);
        runFor(holdMs);
        ticks = watch.repeatTimer();
    }
    const TimePoint released = Steady::now();
    release(button);
    runFor(300);

    const auto frames = arrivals.since(index);
    HoldFigures f;
    f.period = period;
    f.heldMs = msBetween(pressed, released);
    f.frames = static_cast<double>(frames.size());
    f.ideal = 1.0 + std::floor(f.heldMs / period);
    std::vector<TimePoint> moments;
    for (const auto& frame : frames) {
        if (frame.text != expected) {
            // A frame of an earlier press that was held up on its way.
            const std::string_view name = controlName(control);
            std::fprintf(stderr, "  (held %.*s; %s came too, left out)\n",
                         static_cast<int>(name.size()), name.data(), frame.text.c_str());
            continue;
        }
        moments.push_back(frame.at);
    }
    f.frames = static_cast<double>(moments.size());
    intervalFigures(moments, f);

    std::vector<double> tickErrors;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        tickErrors.push_back(std::abs(msBetween(ticks[i - 1], ticks[i]) - period));
    }
    f.timerP99 = percentile(tickErrors, 99);
    std::vector<double> lags;
    auto next = moments.begin();
    for (const TimePoint tick : ticks) {
        next = std::lower_bound(next, moments.end(), tick);
        if (next != moments.end() && msBetween(tick, *next) < period) {
            lags.push_back(msBetween(tick, *next));
        }
    }
    f.lagP50 = percentile(lags, 50);
    f.lagP99 = percentile(lags, 99);
    return f;
}

}  // namespace

HoldFigures timerFloor(int period, int holdMs, bool sleepRest) {
    std::vector<TimePoint> moments;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    const TimePoint started = Steady::now();
    TimePoint due = started + std::chrono::milliseconds(period);
    const auto microsLeft = [&due] {
        return std::chrono::duration_cast<std::chrono::microseconds>(due - Steady::now()).count();
    };
    const auto arm = [&] { timer.start(std::max(0, static_cast<int>(microsLeft() / 1000) - 1)); };
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (sleepRest) {
            const auto left = microsLeft();
            if (left > 1500) {
                arm();
                return;
            }
            if (left > 0) {
                QThread::usleep(static_cast<unsigned long>(left));
            }
        }
        moments.push_back(Steady::now());
        if (sleepRest) {
            due += std::chrono::milliseconds(period);
            arm();
        }
    });
    moments.push_back(started);  // as the press sends at once
    if (sleepRest) {
        timer.setSingleShot(true);
        arm();
    } else {
        timer.start(period);
    }
    runFor(holdMs);
    const TimePoint stopped = Steady::now();
    timer.stop();
    HoldFigures f;
    f.period = period;
    f.heldMs = msBetween(started, stopped);
    f.frames = static_cast<double>(moments.size());
    f.ideal = 1.0 + std::floor(f.heldMs / period);
    intervalFigures(moments, f);
    return f;
}

// In the order that reaches each period: the cursor pad on a fresh window (200 ms), then
// "Zoom" "+" (105), "Keystone" "up" (250), "SELECT" (500), and the cursor pad after a
// digital-zoom release (5).
std::vector<HoldFigures> holdPeriods(int holdMs, RepeatTimer repeatTimer) {
    Arrivals arrivals;
    PanelOnLine panel(pj::sim::LineOptions{}, arrivals, repeatTimer);
    std::vector<HoldFigures> all;
    all.push_back(hold(panel, arrivals, ControlId::Command5, 200, holdMs, "C3C"));
    all.push_back(hold(panel, arrivals, ControlId::Command15, 105, holdMs, "C47"));
    all.push_back(hold(panel, arrivals, ControlId::Command50, 250, holdMs, "C8E"));
    all.push_back(hold(panel, arrivals, ControlId::Command6, 500, holdMs, "C3F"));
    digitalZoomClick(panel, arrivals);
    all.push_back(hold(panel, arrivals, ControlId::Command5, 5, holdMs, "C3C"));
    std::sort(all.begin(), all.end(),
              [](const HoldFigures& a, const HoldFigures& b) { return a.period < b.period; });
    return all;
}

}  // namespace pj::bench
