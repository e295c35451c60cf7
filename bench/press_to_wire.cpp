// SPDX-License-Identifier: Apache-2.0
#include "press_to_wire.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

#include "line_rig.h"
#include "stats.h"

namespace pj::bench {

namespace {

// On a throttled line the simulator takes byte k of a burst k character times after the
// first, so the first byte went on the wire (n - 1) character times before the frame's last
// byte was read.
//
// The floor is the same frame written straight into the same kind of line by this program,
// with no window, core or QSerialPort in between: what the pseudo-terminal, the simulator's
// thread and its reading granularity add by themselves.
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
        const TimePoint written = Steady::now();
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

}  // namespace

PressFigures pressToWire(bool throttled, int presses, RepeatTimer repeatTimer) {
    // "C47" + CR: 4 bytes.
    const double before = throttled ? 3 * characterMs(19200) : 0.0;
    PressFigures f;
    {
        const std::vector<double> floor = directWrites(throttled, presses, before);
        f.floorP50 = percentile(floor, 50);
        f.floorP99 = percentile(floor, 99);
    }
    Arrivals arrivals;
    PanelOnLine panel(pressLine(throttled), arrivals, repeatTimer);
    QWidget* zoom = panel.button(ControlId::Command15);
    std::vector<double> delays;
    std::vector<double> handled;
    for (int i = 0; i < presses; ++i) {
        const std::size_t index = arrivals.count();
        const TimePoint pressed = Steady::now();
        press(zoom);
        handled.push_back(msBetween(pressed, Steady::now()));
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

}  // namespace pj::bench
