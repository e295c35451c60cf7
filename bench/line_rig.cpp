// SPDX-License-Identifier: Apache-2.0
#include "line_rig.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "sleep_rest_timer.h"

namespace pj::bench {

namespace {

std::unique_ptr<Timer> sleepRestTimer(RepeatTimer kind) {
    if (kind == RepeatTimer::SleepRest) {
        return std::make_unique<SleepRestTimer>();
    }
    return nullptr;
}

}  // namespace

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

PanelOnLine::PanelOnLine(pj::sim::LineOptions options, Arrivals& arrivals, RepeatTimer repeatTimer)
    : sleepRepeat_(sleepRestTimer(repeatTimer)),
      sleepPacer_(sleepRestTimer(repeatTimer)),
      form_(window_, serial_, timers(), clock_) {
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
                     static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
                     text.data());
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

PanelOnLine::~PanelOnLine() {
    window_.setEvents(nullptr);
}

FormTimers PanelOnLine::timers() {
    FormTimers all = qtTimers_.all();
    return {sleepRepeat_ ? *sleepRepeat_ : all.Timer1,  all.Timer2,   all.Timer3, all.Timer4,
            sleepPacer_ ? *sleepPacer_ : all.LinePacer, all.Reconnect};
}

QWidget* PanelOnLine::button(ControlId id) const {
    QWidget* widget = window_.control(id);
    if (widget == nullptr) {
        const std::string_view name = controlName(id);
        std::fprintf(stderr, "pjtiming: no control %.*s\n", static_cast<int>(name.size()),
                     name.data());
        std::exit(2);
    }
    return widget;
}

void press(QWidget* button) {
    QTest::mousePress(button, Qt::LeftButton);
}

void release(QWidget* button) {
    QTest::mouseRelease(button, Qt::LeftButton);
}

void digitalZoomClick(PanelOnLine& panel, Arrivals& arrivals) {
    QWidget* digitalZoom = panel.button(ControlId::Command48);
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

}  // namespace pj::bench
