// pjtiming: the panel's own delay measured against the line's.
//
// On the line (in this process): the real window (QtWindow, on Qt's offscreen platform),
// the core, QSerialPort, QTimer and the steady clock, wired as the program wires them, with
// the simulator serving a pseudo-terminal. Presses and releases are mouse events delivered
// to the button widgets through Qt's event system. The simulator's trace reports each frame
// as its last byte is read; the time is taken there, on the simulator's thread.
//   (a) press to wire: 1000 presses, on a bare pseudo-terminal (no wire time) and with the
//       simulator taking bytes no faster than 19200 baud;
//   (b) repeat periods: a hold at each period the panel repeats at;
//   (c) saturation: the fastest repeat with an addressed frame at 9600 and 19200 baud on a
//       throttled line.
// As processes (on the X display named by $DISPLAY): the panel program against a bare Qt
// window of the same size, started alternately:
//   (d) start-up to the window mapped; (e) CPU time while idle; (f) peak memory.
//
// Prints a markdown table of figures (medians over the runs) against their targets on
// standard output; progress and per-run figures go to standard error.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/form.h"
#include "process_probe.h"
#include "shell/qt_clock.h"
#include "shell/qt_serial_control.h"
#include "shell/qt_timer.h"
#include "shell/qt_window.h"
#include "sim/line_server.h"
#include "sleep_rest_timer.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

double msBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// One character on the line at 8N1: ten bits.
double characterMs(int baud) {
    return 10'000.0 / baud;
}

struct Options {
    int runs = 3;
    int presses = 1000;
    int holdMs = 10'000;
    int saturationMs = 5'000;
    int floorMs = 5'000;
    int processRuns = 3;
    int idleMs = 10'000;
    int settleMs = 1'000;
    bool line = true;
    bool process = true;
    bool sleepRestTimers = false;  // --repeat-timer sleep
    std::string panel;
    std::string bare;
};

// ---------------------------------------------------------------------------------------
// Statistics

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const auto index = static_cast<std::size_t>(std::max(rank, 1.0)) - 1;
    return values[std::min(index, values.size() - 1)];
}

double median(const std::vector<double>& values) {
    if (values.empty()) {
        return std::nan("");
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

// ---------------------------------------------------------------------------------------
// The panel on a simulated line

// Frames as the simulator reads their last byte, stamped on its thread.
class Arrivals {
  public:
    struct Frame {
        TimePoint at;
        std::string text;
    };

    void add(std::string_view text) {
        const TimePoint now = SteadyClock::now();
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
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The program's window, core, serial control, timers and clock, wired as main() wires them,
// on a line served by the simulator.
// Set by --repeat-timer sleep.
bool sleepRestTimers = false;

class PanelOnLine {
  public:
    PanelOnLine(pj::sim::LineOptions options, Arrivals& arrivals) {
        options.trace = [&arrivals](char direction, std::string_view bytes) {
            if (direction == '<') {
                arrivals.add(bytes);
            }
        };
        server_ = std::make_unique<pj::sim::LineServer>(std::move(options));
        if (const pj::sim::LineError error = server_->start()) {
            std::fprintf(stderr, "pjtiming: the simulator did not start: %s\n", error->c_str());
            std::exit(2);
        }
        serial_.setDevice(1, QString::fromStdString(server_->path()));
        window_.setWarningHook([](std::string_view text, std::string_view title) {
            std::fprintf(stderr, "pjtiming: the panel warned (%.*s): %.*s\n",
                         static_cast<int>(title.size()), title.data(),
                         static_cast<int>(text.size()), text.data());
        });
        window_.setEvents(&form_);
        form_.Load();
        if (!serial_.portOpen()) {
            std::fprintf(stderr, "pjtiming: the panel did not open the line\n");
            std::exit(2);
        }
        window_.show();
        runFor(300);  // shown, painted, and the line quiet
    }

    ~PanelOnLine() { window_.setEvents(nullptr); }
    PanelOnLine(const PanelOnLine&) = delete;
    PanelOnLine& operator=(const PanelOnLine&) = delete;

    QWidget* button(std::string_view name) const {
        QWidget* widget = window_.control(name);
        if (widget == nullptr) {
            std::fprintf(stderr, "pjtiming: no control %.*s\n", static_cast<int>(name.size()),
                         name.data());
            std::exit(2);
        }
        return widget;
    }

    pj::Form& form() { return form_; }

  private:
    static std::unique_ptr<pj::Timer> makeTimer() {
        if (sleepRestTimers) {
            return std::make_unique<pj::bench::SleepRestTimer>();
        }
        return std::make_unique<pj::QtTimer>();
    }

    std::unique_ptr<pj::sim::LineServer> server_;
    pj::QtSerialControl serial_;
    // The repeat timer and the line pacer: the program's own, or (--repeat-timer sleep) the
    // sleep-the-rest timer, to measure what it would change.
    std::unique_ptr<pj::Timer> timer1_ = makeTimer();
    std::unique_ptr<pj::Timer> pacer_ = makeTimer();
    pj::QtTimer timer2_, timer3_, timer4_, reconnect_;
    pj::SteadyClock clock_;
    pj::QtWindow window_;
    pj::Form form_{window_, serial_,
                   pj::FormTimers{*timer1_, timer2_, timer3_, timer4_, *pacer_, reconnect_},
                   clock_};
};

void press(QWidget* button) {
    QTest::mousePress(button, Qt::LeftButton);
}

void release(QWidget* button) {
    QTest::mouseRelease(button, Qt::LeftButton);
}

// (a) Press to wire: "Zoom" "+" pressed and released `presses` times. On a throttled line the
// simulator takes byte k of a burst k character times after the first, so the first byte
// went on the wire (n - 1) character times before the frame's last byte was read.
//
// The floor is the same frame written straight into the same kind of line by this program,
// with no window, core or QSerialPort in between: what the pseudo-terminal, the simulator's
// thread and its reading granularity add by themselves.
struct PressFigures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double floorP50 = 0;
    double floorP99 = 0;
    // From the press to the press's delivery returning: the handler has written the frame
    // by then (and the button has repainted itself), so this bounds the panel's own share.
    double handledP50 = 0;
    double handledP99 = 0;
};

constexpr std::string_view kZoomFrame = "C47\r";

pj::sim::LineOptions pressLine(bool throttled) {
    pj::sim::LineOptions options;
    options.baud = 19200;
    options.throttle = throttled;
    return options;
}

std::vector<double> directWrites(bool throttled, int writes, double before) {
    Arrivals arrivals;
    pj::sim::LineOptions options = pressLine(throttled);
    options.trace = [&arrivals](char direction, std::string_view bytes) {
        if (direction == '<') {
            arrivals.add(bytes);
        }
    };
    pj::sim::LineServer server(options);
    if (server.start()) {
        std::fprintf(stderr, "pjtiming: the simulator did not start\n");
        std::exit(2);
    }
    const int fd = ::open(server.path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(server.path().c_str());
        std::exit(2);
    }
    std::vector<double> delays;
    for (int i = 0; i < writes; ++i) {
        const std::size_t index = arrivals.count();
        const TimePoint written = SteadyClock::now();
        if (::write(fd, kZoomFrame.data(), kZoomFrame.size()) !=
            static_cast<ssize_t>(kZoomFrame.size())) {
            std::perror("write");
            std::exit(2);
        }
        const auto frame = arrivals.waitFor(index, std::chrono::milliseconds(2000));
        if (!frame) {
            std::fprintf(stderr, "pjtiming: a frame written straight to the line got lost\n");
            std::exit(1);
        }
        delays.push_back(msBetween(written, frame->at) - before);
        // The answer comes back and is thrown away; the pause varies as the presses' does.
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + i % 3));
        ::tcflush(fd, TCIFLUSH);
    }
    ::close(fd);
    return delays;
}

PressFigures pressToWire(bool throttled, int presses) {
    // "C47" + CR: 4 bytes.
    const double before = throttled ? 3 * characterMs(19200) : 0.0;
    PressFigures f;
    {
        const std::vector<double> floor = directWrites(throttled, presses, before);
        f.floorP50 = percentile(floor, 50);
        f.floorP99 = percentile(floor, 99);
    }
    Arrivals arrivals;
    PanelOnLine panel(pressLine(throttled), arrivals);
    QWidget* zoom = panel.button("Command15");
    std::vector<double> delays;
    std::vector<double> handled;
    for (int i = 0; i < presses; ++i) {
        const std::size_t index = arrivals.count();
        const TimePoint pressed = SteadyClock::now();
        press(zoom);
        handled.push_back(msBetween(pressed, SteadyClock::now()));
        const auto frame = arrivals.waitFor(index, std::chrono::milliseconds(2000));
        release(zoom);
        if (!frame || frame->text != "C47") {
            std::fprintf(stderr, "pjtiming: press %d: no frame on the line\n", i);
            std::exit(1);
        }
        delays.push_back(msBetween(pressed, frame->at) - before);
        // The answer comes back and the window repaints; presses fall at varying moments.
        runFor(3 + i % 3);
    }
    f.p50 = percentile(delays, 50);
    f.p99 = percentile(delays, 99);
    f.max = percentile(delays, 100);
    f.handledP50 = percentile(handled, 50);
    f.handledP99 = percentile(handled, 99);
    return f;
}

// (b) One hold at one period.
struct HoldFigures {
    int period = 0;
    double heldMs = 0;
    double frames = 0;
    double ideal = 0;
    double p50 = 0;  // |interval - period|
    double p99 = 0;
    double max = 0;
    double meanInterval = 0;
    int skipped = 0;  // intervals longer than 1.5 periods: a repeat fell out
    // Where the error comes from: the intervals at which Qt delivered the repeat timer's
    // events, and the time from each event to its frame being read at the far end.
    double timerP99 = 0;
    double lagP50 = 0;
    double lagP99 = 0;
};

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
                delivered_[timer].push_back(SteadyClock::now());
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

HoldFigures hold(PanelOnLine& panel, Arrivals& arrivals, std::string_view control, int period,
                 int holdMs, std::string_view expected) {
    QWidget* button = panel.button(control);
    const std::size_t index = arrivals.count();
    std::vector<TimePoint> ticks;
    const TimePoint pressed = SteadyClock::now();
    {
        TimerWatch watch(period);
        press(button);
        runFor(holdMs);
        ticks = watch.repeatTimer();
    }
    const TimePoint released = SteadyClock::now();
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
            std::fprintf(stderr, "  (held %.*s; %s came too, left out)\n",
                         static_cast<int>(control.size()), control.data(), frame.text.c_str());
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

// A short press of "D.Zoom" "+": its release leaves the cursor pad repeating every 5 ms. Waits
// until its frame is on the line, so that it is not taken for part of the next hold.
void digitalZoomClick(PanelOnLine& panel, Arrivals& arrivals) {
    QWidget* digitalZoom = panel.button("Command48");
    const std::size_t index = arrivals.count();
    press(digitalZoom);
    runFor(20);
    release(digitalZoom);
    if (!arrivals.waitFor(index, std::chrono::milliseconds(5000))) {
        std::fprintf(stderr, "pjtiming: the digital-zoom frame did not come\n");
        std::exit(1);
    }
    runFor(300);
}

// The floor for the repeat: a bare QTimer of the same kind (precise) at `period`, timed in
// its own handler, in this process with no window, core or line.
//
// With `sleepRest`, the same schedule kept another way: a single-shot QTimer armed to wake up
// to a millisecond early, and a sleep for the rest of the way. Qt's timers wait in whole
// milliseconds, rounded up from the moment the wait begins, so a plain QTimer's ticks wander
// within a millisecond of their due times; this shows what a finer wait would give.
HoldFigures timerFloor(int period, int holdMs, bool sleepRest) {
    std::vector<TimePoint> moments;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    const TimePoint started = SteadyClock::now();
    TimePoint due = started + std::chrono::milliseconds(period);
    const auto microsLeft = [&due] {
        return std::chrono::duration_cast<std::chrono::microseconds>(due - SteadyClock::now())
            .count();
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
        moments.push_back(SteadyClock::now());
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
    const TimePoint stopped = SteadyClock::now();
    timer.stop();
    HoldFigures f;
    f.period = period;
    f.heldMs = msBetween(started, stopped);
    f.frames = static_cast<double>(moments.size());
    f.ideal = 1.0 + std::floor(f.heldMs / period);
    intervalFigures(moments, f);
    return f;
}

// Every period the panel repeats at, in the order that reaches each one: the cursor pad on a
// fresh window (200 ms), then "Zoom" "+" (105), "Keystone" "up" (250), "SELECT" (500), and
// the cursor pad after a digital-zoom release (5).
std::vector<HoldFigures> holdPeriods(int holdMs) {
    Arrivals arrivals;
    PanelOnLine panel(pj::sim::LineOptions{}, arrivals);
    std::vector<HoldFigures> all;
    all.push_back(hold(panel, arrivals, "Command5", 200, holdMs, "C3C"));
    all.push_back(hold(panel, arrivals, "Command15", 105, holdMs, "C47"));
    all.push_back(hold(panel, arrivals, "Command50", 250, holdMs, "C8E"));
    all.push_back(hold(panel, arrivals, "Command6", 500, holdMs, "C3F"));
    digitalZoomClick(panel, arrivals);
    all.push_back(hold(panel, arrivals, "Command5", 5, holdMs, "C3C"));
    std::sort(all.begin(), all.end(),
              [](const HoldFigures& a, const HoldFigures& b) { return a.period < b.period; });
    return all;
}

// (c) The cursor pad at 5 ms with frames to all projectors (8 bytes, never answered) on a
// line that takes bytes no faster than `baud`.
struct SaturationFigures {
    int baud = 0;
    double frameMs = 0;
    double heldMs = 0;
    double frames = 0;    // complete by the release
    double ceiling = 0;   // the most frames the line or the repeat allows in that time
    double busy = 0;      // share of the hold the line spent sending
    double possible = 0;  // the share the repeat allows: 1 when it outruns the line
    double releaseToSilenceMs = 0;
};

SaturationFigures saturation(int baud, int holdMs) {
    Arrivals arrivals;
    pj::sim::LineOptions options;
    options.baud = baud;
    options.throttle = true;
    PanelOnLine panel(options, arrivals);
    if (baud == 9600) {
        panel.form().Click("Option10");  // "9600" in the port panel
    }
    panel.form().Click("Option4");  // "ALL"
    digitalZoomClick(panel, arrivals);

    QWidget* up = panel.button("Command5");
    const std::size_t index = arrivals.count();
    const TimePoint pressed = SteadyClock::now();
    press(up);
    runFor(holdMs);
    const TimePoint released = SteadyClock::now();
    release(up);
    runFor(300);

    const auto frames = arrivals.since(index);
    SaturationFigures f;
    f.baud = baud;
    f.frameMs = 8 * characterMs(baud);
    f.heldMs = msBetween(pressed, released);
    TimePoint last = released;
    for (const auto& frame : frames) {
        if (frame.text != "AFFFC3C") {
            std::fprintf(stderr, "  (saturation: %s came too, left out)\n", frame.text.c_str());
            continue;
        }
        if (frame.at <= released) {
            f.frames += 1;
        }
        last = frame.at;
    }
    const double interval = std::max(f.frameMs, 5.0);
    f.ceiling = 1.0 + std::floor(f.heldMs / interval);
    f.busy = f.frames * f.frameMs / f.heldMs;
    f.possible = std::min(1.0, f.frameMs / 5.0);
    f.releaseToSilenceMs = msBetween(released, last);
    return f;
}

struct LineRun {
    PressFigures pty;
    PressFigures throttled;
    std::vector<HoldFigures> holds;
    HoldFigures timerFloor;
    HoldFigures sleepFloor;
    SaturationFigures at9600;
    SaturationFigures at19200;
};

LineRun lineRun(const Options& o, int run) {
    LineRun r;
    std::fprintf(stderr, "run %d: press to wire, pseudo-terminal...\n", run);
    r.pty = pressToWire(false, o.presses);
    std::fprintf(stderr,
                 "  p50 %.3f p99 %.3f max %.3f ms; floor p50 %.3f p99 %.3f ms; press handled "
                 "p50 %.3f p99 %.3f ms\n",
                 r.pty.p50, r.pty.p99, r.pty.max, r.pty.floorP50, r.pty.floorP99, r.pty.handledP50,
                 r.pty.handledP99);
    std::fprintf(stderr, "run %d: press to wire, 19200 baud...\n", run);
    r.throttled = pressToWire(true, o.presses);
    std::fprintf(stderr,
                 "  p50 %.3f p99 %.3f max %.3f ms; floor p50 %.3f p99 %.3f ms; press handled "
                 "p50 %.3f p99 %.3f ms\n",
                 r.throttled.p50, r.throttled.p99, r.throttled.max, r.throttled.floorP50,
                 r.throttled.floorP99, r.throttled.handledP50, r.throttled.handledP99);
    std::fprintf(stderr, "run %d: holds of %d ms at every period...\n", run, o.holdMs);
    r.holds = holdPeriods(o.holdMs);
    r.timerFloor = timerFloor(5, o.floorMs, false);
    r.sleepFloor = timerFloor(5, o.floorMs, true);
    const auto show = [](const char* what, const HoldFigures& h) {
        std::fprintf(stderr,
                     "  %s %3d ms: frames %.0f ideal %.0f (held %.1f ms), %d skipped, mean "
                     "interval %.3f ms, |error| p50 %.3f p99 %.3f max %.3f ms",
                     what, h.period, h.frames, h.ideal, h.heldMs, h.skipped, h.meanInterval, h.p50,
                     h.p99, h.max);
    };
    for (const HoldFigures& h : r.holds) {
        show("panel", h);
        std::fprintf(stderr,
                     "; repeat timer events |error| p99 %.3f ms; event to frame read p50 %.3f "
                     "p99 %.3f ms\n",
                     h.timerP99, h.lagP50, h.lagP99);
    }
    show("bare QTimer", r.timerFloor);
    std::fprintf(stderr, "\n");
    show("QTimer woken early, then a sleep", r.sleepFloor);
    std::fprintf(stderr, "\n");
    for (const int baud : {9600, 19200}) {
        std::fprintf(stderr, "run %d: saturation at %d baud...\n", run, baud);
        const SaturationFigures s = saturation(baud, o.saturationMs);
        std::fprintf(stderr,
                     "  frames %.0f of %.0f in %.1f ms, busy %.2f%% (possible %.2f%%), "
                     "release to silence %.2f ms (frame %.2f ms)\n",
                     s.frames, s.ceiling, s.heldMs, 100 * s.busy, 100 * s.possible,
                     s.releaseToSilenceMs, s.frameMs);
        (baud == 9600 ? r.at9600 : r.at19200) = s;
    }
    return r;
}

// ---------------------------------------------------------------------------------------
// The programs as processes

// The panel, the bare window (the floor) and the bare window with two lines of text.
enum Program { kPanel, kBare, kBareText, kPrograms };
constexpr std::array<const char*, kPrograms> kProgramNames{"panel", "bare window",
                                                           "bare window with text"};

struct ProgramFigures {
    double startupMs = 0;
    double startupCpuMs = 0;  // CPU time used from the start to the end of its settling time
    double idleCpuMs = 0;
    double idleTicks = 0;
    double peakKb = 0;
    pj::bench::MemoryKinds kinds;
};

using ProcessRun = std::array<ProgramFigures, kPrograms>;

pj::bench::Started startProgram(pj::bench::DisplayWatch& watch,
                                const std::vector<std::string>& argv) {
    auto started = watch.start(argv, 30'000);
    if (!started) {
        std::fprintf(stderr, "pjtiming: %s did not show a window\n", argv[0].c_str());
        std::exit(1);
    }
    return *started;
}

std::vector<ProcessRun> processRuns(const Options& o) {
    pj::bench::DisplayWatch watch;
    if (!watch.connected()) {
        std::fprintf(stderr, "pjtiming: no X display (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
        std::exit(2);
    }
    // The panel's port: a simulator in this process, outside the measured program.
    pj::sim::LineServer server(pj::sim::LineOptions{});
    if (server.start()) {
        std::fprintf(stderr, "pjtiming: the simulator did not start\n");
        std::exit(2);
    }
    std::array<std::vector<std::string>, kPrograms> argv;
    argv[kPanel] = {o.panel, "--port1", server.path()};

    // One start of each to warm the file cache, and to learn the size of the panel's window.
    const pj::bench::Started first = startProgram(watch, argv[kPanel]);
    pj::bench::stopProcess(first.pid);
    argv[kBare] = {o.bare, std::to_string(first.width), std::to_string(first.height)};
    argv[kBareText] = argv[kBare];
    argv[kBareText].push_back("--text");
    pj::bench::stopProcess(startProgram(watch, argv[kBare]).pid);
    pj::bench::stopProcess(startProgram(watch, argv[kBareText]).pid);
    std::fprintf(stderr, "panel window %dx%d; the bare windows are made the same size\n",
                 first.width, first.height);

    std::vector<ProcessRun> runs;
    for (int run = 0; run < o.processRuns; ++run) {
        ProcessRun r;
        // Started one at a time, each first in turn, each left to settle before the next is
        // started; then all are left idle side by side.
        std::array<pj::bench::Started, kPrograms> started;
        for (int k = 0; k < kPrograms; ++k) {
            const auto program = static_cast<std::size_t>((run + k) % kPrograms);
            started[program] = startProgram(watch, argv[program]);
            std::this_thread::sleep_for(std::chrono::milliseconds(o.settleMs));
        }
        std::array<double, kPrograms> cpu{};
        std::array<long, kPrograms> ticks{};
        for (std::size_t p = 0; p < kPrograms; ++p) {
            cpu[p] = pj::bench::cpuMs(started[p].pid);
            ticks[p] = pj::bench::cpuTicks(started[p].pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(o.idleMs));
        for (std::size_t p = 0; p < kPrograms; ++p) {
            ProgramFigures& f = r[p];
            const pid_t pid = started[p].pid;
            f.startupMs = started[p].startupMs;
            f.startupCpuMs = cpu[p];
            f.idleCpuMs = pj::bench::cpuMs(pid) - cpu[p];
            f.idleTicks = static_cast<double>(pj::bench::cpuTicks(pid) - ticks[p]);
            f.peakKb = static_cast<double>(pj::bench::peakKb(pid));
            f.kinds = pj::bench::residentByKind(pid);
        }
        for (std::size_t p = 0; p < kPrograms; ++p) {
            pj::bench::stopProcess(started[p].pid);
            const ProgramFigures& f = r[p];
            std::fprintf(stderr,
                         "process run %d, %s: start-up %.1f ms (%.1f ms CPU), idle CPU %.3f ms "
                         "(%.0f ticks), peak %.0f kB (now: fonts %ld, libraries %ld, other %ld "
                         "kB)\n",
                         run, kProgramNames[p], f.startupMs, f.startupCpuMs, f.idleCpuMs,
                         f.idleTicks, f.peakKb, f.kinds.fontsKb, f.kinds.librariesKb,
                         f.kinds.otherKb);
        }
        runs.push_back(r);
    }
    return runs;
}

// ---------------------------------------------------------------------------------------
// The table

struct Row {
    std::string figure;
    std::vector<double> values;  // one per run
    std::string unit;
    int decimals;
    std::string target;
    std::optional<bool> met;  // empty: no target of its own
};

class Table {
  public:
    void add(std::string figure, std::vector<double> values, std::string unit, int decimals) {
        rows_.push_back({std::move(figure), std::move(values), std::move(unit), decimals, "", {}});
    }
    // A figure with a target; `met` says whether the median meets it.
    void add(std::string figure, std::vector<double> values, std::string unit, int decimals,
             std::string target, bool met) {
        rows_.push_back(
            {std::move(figure), std::move(values), std::move(unit), decimals, target, met});
    }
    const std::vector<Row>& rows() const { return rows_; }

  private:
    std::vector<Row> rows_;
};

template <class Run, class F>
std::vector<double> collect(const std::vector<Run>& runs, F f) {
    std::vector<double> values;
    for (const Run& r : runs) {
        values.push_back(f(r));
    }
    return values;
}

std::string formatted(double value, int decimals) {
    if (std::isnan(value)) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void printTable(const Table& table, int lineRuns, int processRuns) {
    std::printf("| Figure | Median | Range over runs | Target | Met |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& row : table.rows()) {
        const auto [low, high] = std::minmax_element(row.values.begin(), row.values.end());
        const std::string unit = row.unit.empty() ? "" : " " + row.unit;
        std::printf("| %s | %s%s | %s – %s | %s | %s |\n", row.figure.c_str(),
                    formatted(median(row.values), row.decimals).c_str(), unit.c_str(),
                    formatted(*low, row.decimals).c_str(), formatted(*high, row.decimals).c_str(),
                    row.target.c_str(), !row.met ? "" : (*row.met ? "yes" : "**no**"));
    }
    if (lineRuns > 0) {
        std::printf("\nOn the line: medians of %d runs in this process.", lineRuns);
    }
    if (processRuns > 0) {
        std::printf("%sAs processes: medians of %d runs.", lineRuns > 0 ? " " : "\n", processRuns);
    }
    std::printf("\n");
}

void pressRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    const auto pty = [&](double PressFigures::*figure) {
        return collect(runs, [=](const R& r) { return r.pty.*figure; });
    };
    const auto line = [&](double PressFigures::*figure) {
        return collect(runs, [=](const R& r) { return r.throttled.*figure; });
    };
    const std::string bare = "(a) press to frame read, pseudo-terminal (no wire time), ";
    table.add(bare + "p50", pty(&PressFigures::p50), "ms", 3);
    table.add(bare + "p99", pty(&PressFigures::p99), "ms", 3, "≤ 2 ms",
              median(pty(&PressFigures::p99)) <= 2.0);
    table.add(bare + "press handled (frame written), p99", pty(&PressFigures::handledP99), "ms", 3);
    table.add("(a) floor: frame written straight to the pseudo-terminal, p50",
              pty(&PressFigures::floorP50), "ms", 3);
    table.add("(a) floor: frame written straight to the pseudo-terminal, p99",
              pty(&PressFigures::floorP99), "ms", 3);
    const std::string wire = "(a) press to first byte, 19200 baud, ";
    table.add(wire + "p50", line(&PressFigures::p50), "ms", 3);
    table.add(wire + "p99", line(&PressFigures::p99), "ms", 3,
              "≤ 2 ms beyond the " + formatted(4 * characterMs(19200), 2) + " ms frame",
              median(line(&PressFigures::p99)) <= 2.0);
    table.add("(a) floor: frame written straight to the 19200-baud line, p50",
              line(&PressFigures::floorP50), "ms", 3);
    table.add("(a) floor: frame written straight to the 19200-baud line, p99",
              line(&PressFigures::floorP99), "ms", 3);
}

void holdRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    const std::size_t periods = runs.front().holds.size();
    for (std::size_t i = 0; i < periods; ++i) {
        const int period = runs.front().holds[i].period;
        const auto each = [&](double HoldFigures::*figure) {
            return collect(runs, [=](const R& r) { return r.holds[i].*figure; });
        };
        const std::string name = "(b) " + std::to_string(period) + " ms repeat: ";
        table.add(name + "period error p50", each(&HoldFigures::p50), "ms", 3);
        table.add(name + "period error p99", each(&HoldFigures::p99), "ms", 3, "≤ 1 ms",
                  median(each(&HoldFigures::p99)) <= 1.0);
        table.add(name + "repeat timer as Qt delivered it, interval error p99",
                  each(&HoldFigures::timerP99), "ms", 3);
        table.add(name + "repeat timer event to frame read, p99", each(&HoldFigures::lagP99), "ms",
                  3);
        const auto off =
            collect(runs, [=](const R& r) { return r.holds[i].frames - r.holds[i].ideal; });
        const bool within =
            std::all_of(off.begin(), off.end(), [](double d) { return std::abs(d) <= 1; });
        table.add(name + "frames − ideal (1 + held/period)", off, "", 0, "within ±1 in every run",
                  within);
        if (period != runs.front().timerFloor.period) {
            continue;
        }
        for (const bool sleep : {false, true}) {
            const auto floor = [&](double HoldFigures::*figure) {
                return collect(runs, [=](const R& r) {
                    return (sleep ? r.sleepFloor : r.timerFloor).*figure;
                });
            };
            const std::string what =
                sleep ? "(b) floor: QTimer woken up to 1 ms early, then a sleep to the due time, "
                      : "(b) floor: bare QTimer, ";
            const std::string at = "at " + std::to_string(period) + " ms: ";
            table.add(what + at + "interval error p50", floor(&HoldFigures::p50), "ms", 3);
            table.add(what + at + "interval error p99", floor(&HoldFigures::p99), "ms", 3);
        }
    }
}

void saturationRows(const std::vector<LineRun>& runs, Table& table) {
    using R = LineRun;
    for (const bool slow : {true, false}) {
        const auto each = [&](double SaturationFigures::*figure, double scale) {
            return collect(
                runs, [=](const R& r) { return (slow ? r.at9600 : r.at19200).*figure * scale; });
        };
        const SaturationFigures& first = slow ? runs.front().at9600 : runs.front().at19200;
        const std::string name = "(c) " + std::to_string(first.baud) + " baud, 8-byte frame (" +
                                 formatted(first.frameMs, 2) + " ms), 5 ms repeat: ";
        const auto busy = each(&SaturationFigures::busy, 100);
        if (first.possible >= 1.0) {
            table.add(name + "line busy", busy, "%", 2, "≥ 95%", median(busy) >= 95.0);
        } else {
            table.add(name + "line busy (the repeat, not the line, is the limit here)", busy, "%",
                      2);
            table.add(name + "the most the repeat allows (frame / 5 ms)",
                      each(&SaturationFigures::possible, 100), "%", 2);
        }
        table.add(name + "frames complete by the release", each(&SaturationFigures::frames, 1), "",
                  0);
        table.add(name + "the most the line or the repeat allows in the hold",
                  each(&SaturationFigures::ceiling, 1), "", 0);
        const auto silence = each(&SaturationFigures::releaseToSilenceMs, 1);
        table.add(name + "release to last byte", silence, "ms", 2,
                  "≤ " + formatted(first.frameMs + 2, 2) + " ms (frame + 2 ms)",
                  median(silence) <= first.frameMs + 2);
    }
}

void processRows(const std::vector<ProcessRun>& runs, Table& table) {
    using P = ProcessRun;
    const auto each = [&](std::size_t program, double ProgramFigures::*figure, double scale) {
        return collect(runs, [=](const P& r) { return r[program].*figure * scale; });
    };
    const auto ratio = [&](std::size_t program, double ProgramFigures::*figure) {
        return collect(runs, [=](const P& r) { return r[kPanel].*figure / r[program].*figure; });
    };
    const auto startup = &ProgramFigures::startupMs;
    table.add("(d) start-up to window mapped, panel", each(kPanel, startup, 1), "ms", 1);
    table.add("(d) start-up to window mapped, bare window (floor)", each(kBare, startup, 1), "ms",
              1);
    table.add("(d) start-up, panel / bare window", ratio(kBare, startup), "×", 2, "≤ 1.3 ×",
              median(ratio(kBare, startup)) <= 1.3);
    table.add("(d) start-up to window mapped, bare window with text", each(kBareText, startup, 1),
              "ms", 1);
    table.add("(d) start-up, panel / bare window with text", ratio(kBareText, startup), "×", 2);
    for (std::size_t p = 0; p < kPrograms; ++p) {
        table.add(
            std::string("(d) CPU time used to start and show the window, ") + kProgramNames[p],
            each(p, &ProgramFigures::startupCpuMs, 1), "ms", 1);
    }
    const auto idle = each(kPanel, &ProgramFigures::idleCpuMs, 1);
    table.add("(e) CPU time while idle, panel", idle, "ms", 3, "≤ 10 ms", median(idle) <= 10.0);
    table.add("(e) CPU time while idle, panel, from /proc/PID/stat (10 ms ticks)",
              each(kPanel, &ProgramFigures::idleTicks, 10), "ms", 0);
    table.add("(e) CPU time while idle, bare window", each(kBare, &ProgramFigures::idleCpuMs, 1),
              "ms", 3);
    const auto peak = &ProgramFigures::peakKb;
    table.add("(f) peak resident memory, panel", each(kPanel, peak, 1.0 / 1024), "MiB", 1);
    table.add("(f) peak resident memory, bare window (floor)", each(kBare, peak, 1.0 / 1024), "MiB",
              1);
    table.add("(f) peak memory, panel / bare window", ratio(kBare, peak), "×", 2, "≤ 1.2 ×",
              median(ratio(kBare, peak)) <= 1.2);
    table.add("(f) peak resident memory, bare window with text", each(kBareText, peak, 1.0 / 1024),
              "MiB", 1);
    table.add("(f) peak memory, panel / bare window with text", ratio(kBareText, peak), "×", 2);
}

void printMemoryKinds(const std::vector<ProcessRun>& runs) {
    std::printf("\n| Resident once idle (MiB) | panel | bare window | bare window with text |\n");
    std::printf("|---|---|---|---|\n");
    const std::array<std::pair<const char*, long pj::bench::MemoryKinds::*>, 3> kinds{{
        {"font files", &pj::bench::MemoryKinds::fontsKb},
        {"shared libraries and plugins", &pj::bench::MemoryKinds::librariesKb},
        {"heap, stacks and other", &pj::bench::MemoryKinds::otherKb},
    }};
    for (const auto& [name, member] : kinds) {
        std::printf("| %s |", name);
        for (std::size_t p = 0; p < kPrograms; ++p) {
            const auto values = collect(runs, [&](const ProcessRun& r) {
                return static_cast<double>(r[p].kinds.*member) / 1024;
            });
            std::printf(" %s |", formatted(median(values), 1).c_str());
        }
        std::printf("\n");
    }
    // What the panel maps that the bare window with text does not (the last run).
    const auto& panel = runs.back()[kPanel].kinds.libraries;
    const auto& text = runs.back()[kBareText].kinds.libraries;
    std::vector<std::pair<long, std::string>> only;
    long total = 0;
    for (const auto& [name, kb] : panel) {
        if (text.find(name) == text.end()) {
            only.emplace_back(kb, name);
            total += kb;
        }
    }
    std::sort(only.rbegin(), only.rend());
    std::printf(
        "\nLibraries the panel maps and the bare window with text does not: %zu, %s MiB "
        "resident;",
        only.size(), formatted(static_cast<double>(total) / 1024, 1).c_str());
    for (std::size_t i = 0; i < only.size() && i < 8; ++i) {
        std::printf("%s %s %ld kB", i == 0 ? "" : ",", only[i].second.c_str(), only[i].first);
    }
    if (only.size() > 8) {
        std::printf(" and %zu more", only.size() - 8);
    }
    std::printf(".\n");
}

int usage() {
    std::fprintf(
        stderr,
        "usage: pjtiming [--runs N] [--presses N] [--hold-ms MS] [--saturation-ms MS]\n"
        "                [--floor-ms MS] [--process-runs N] [--idle-ms MS] [--settle-ms MS]\n"
        "                [--only line|process] [--repeat-timer qt|sleep]\n"
        "                --panel PATH --bare PATH\n"
        "--repeat-timer sleep: on the line, the panel's repeat timer and line pacer keep their\n"
        "schedule by waking early and sleeping the rest (bench/sleep_rest_timer.h)\n");
    return 2;
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    const std::map<std::string, int*> numbers{
        {"--runs", &o.runs},          {"--presses", &o.presses},
        {"--hold-ms", &o.holdMs},     {"--saturation-ms", &o.saturationMs},
        {"--idle-ms", &o.idleMs},     {"--process-runs", &o.processRuns},
        {"--settle-ms", &o.settleMs}, {"--floor-ms", &o.floorMs}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (auto it = numbers.find(arg); it != numbers.end()) {
            *it->second = std::atoi(value.c_str());
            if (*it->second <= 0) {
                return std::nullopt;
            }
        } else if (arg == "--only") {
            o.line = value == "line";
            o.process = value == "process";
            if (!o.line && !o.process) {
                return std::nullopt;
            }
        } else if (arg == "--repeat-timer") {
            o.sleepRestTimers = value == "sleep";
            if (!o.sleepRestTimers && value != "qt") {
                return std::nullopt;
            }
        } else if (arg == "--panel") {
            o.panel = value;
        } else if (arg == "--bare") {
            o.bare = value;
        } else {
            return std::nullopt;
        }
    }
    if (o.process && (o.panel.empty() || o.bare.empty())) {
        return std::nullopt;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        return usage();
    }
    // This process's own window runs offscreen; the programs it starts go to $DISPLAY.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    sleepRestTimers = options->sleepRestTimers;
    Table table;
    if (options->line) {
        std::vector<LineRun> runs;
        for (int run = 0; run < options->runs; ++run) {
            runs.push_back(lineRun(*options, run));
        }
        pressRows(runs, table);
        holdRows(runs, table);
        saturationRows(runs, table);
    }
    std::vector<ProcessRun> processes;
    if (options->process) {
        processes = processRuns(*options);
        processRows(processes, table);
    }
    printTable(table, options->line ? options->runs : 0,
               options->process ? options->processRuns : 0);
    if (!processes.empty()) {
        printMemoryKinds(processes);
    }
    return 0;
}
