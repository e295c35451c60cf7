#include "ctl/session.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "link/line_settings.h"
#include "link/line_time.h"
#include "protocol/frame.h"
#include "status/queries.h"

namespace pj::ctl {

namespace {

constexpr char kAck = '\x06';
// Beyond the reply window, the longest an exchange may take before it is given up.
constexpr int kExchangeMarginMs = 5000;
constexpr std::string_view kNotSent = " NOT SENT - ";

// A projector answers a command with a line ending in a carriage return, or with an ACK.
bool answerComplete(std::string_view received) {
    return !received.empty() && (received.back() == kCarriageReturn || received.back() == kAck);
}

}  // namespace

SerialError RecordingSerial::output(std::string_view bytes) {
    SerialError error = inner_.output(bytes);
    if (!error) {
        written_ += bytes;
    }
    return error;
}

std::string RecordingSerial::input() {
    std::string bytes = inner_.input();
    received_ += bytes;
    return bytes;
}

void RecordingSerial::setOnComm(std::function<void()> handler) {
    inner_.setOnComm([this, handler = std::move(handler)] {
        if (handler) {
            handler();
        }
        if (afterComm_) {
            afterComm_();
        }
    });
}

void RecordingSerial::clear() {
    written_.clear();
    received_.clear();
}

void WatchedTimer::setEnabled(bool enabled) {
    inner_.setEnabled(enabled);
    if (!enabled && onStopped_) {
        onStopped_();
    }
}

void WatchedTimer::setOnTimer(std::function<void()> handler) {
    inner_.setOnTimer(std::move(handler));
}

Session::Session()
    : form_(window_, recording_, FormTimers{timer1_, timer2_, timer3_, timer4_, pacer_, reconnect_},
            clock_) {}

Session::~Session() {
    recording_.setAfterComm(nullptr);
    window_.onPortNotice = nullptr;
    timer2_.setOnStopped(nullptr);
    // "END": the port is closed and every timer stopped.
    form_.Click("Command16");
}

std::optional<std::string> Session::open(const Request& request) {
    if (!request.port.empty()) {
        serial_.setDevice(1, QString::fromStdString(request.port));
    }
    const std::size_t warningsBefore = window_.boxes.size();
    form_.Load();
    if (!serial_.portOpen()) {
        const std::string why = window_.boxes.size() > warningsBefore
                                    ? window_.boxes.back().text
                                    : std::string("the port did not open");
        return "cannot open " + portName().toStdString() + ": " + why;
    }
    if (request.baud == 9600) {
        form_.Click("Option10");
    }
    baud_ = request.baud;
    form_.Click(request.address->option);
    return std::nullopt;
}

void Session::typeAndSend(std::string_view text) {
    window_.setText("Text1", text);
    form_.Click("Command95");
}

Exchange Session::query(const NamedQuery& query) {
    const auto button =
        std::find_if(kQueryButtons.begin(), kQueryButtons.end(),
                     [&](const QueryButton& b) { return b.command == query.command; });
    if (button != kQueryButtons.end()) {
        return exchange([&] { form_.Click(button->control); });
    }
    return exchange([&] { typeAndSend(query.command); });
}

Exchange Session::send(std::string_view text) {
    return exchange([&] { typeAndSend(text); });
}

std::optional<std::string> Session::lostOrNotSent() const {
    if (!serial_.portOpen()) {
        return portName().toStdString() + ": " +
               (window_.portNotice.empty() ? std::string("the port is not open")
                                           : window_.portNotice);
    }
    return std::nullopt;
}

Exchange Session::exchange(const std::function<void()>& sendIt) {
    Exchange result;
    recording_.clear();

    QEventLoop loop;
    timer2_.setOnStopped([&] { loop.quit(); });
    recording_.setAfterComm([&] {
        if (answerComplete(recording_.received())) {
            loop.quit();
        }
    });
    window_.onPortNotice = [&] {
        if (!serial_.portOpen()) {
            loop.quit();
        }
    };

    sendIt();
    result.frame = recording_.written();
    if (result.frame.empty()) {
        // The core says why where the sent echo would stand.
        const std::string shown = window_.caption("Label11");
        result.portError =
            shown.rfind(kNotSent, 0) == 0
                ? portName().toStdString() + ": " + shown.substr(shown.find(": ") + 2)
                : lostOrNotSent().value_or("nothing was sent");
    } else if (timer2_.enabled()) {
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
        giveUp.start(timer2_.interval() + kExchangeMarginMs);
        loop.exec();
        result.portError = lostOrNotSent();
    }

    timer2_.setOnStopped(nullptr);
    recording_.setAfterComm(nullptr);
    window_.onPortNotice = nullptr;

    if (!recording_.received().empty()) {
        result.reply = recording_.received();
    }
    result.echo = window_.caption("Label12");
    if (std::string readout = window_.caption("Label22"); !readout.empty()) {
        result.readout = std::move(readout);
    }
    return result;
}

HoldResult Session::hold(std::string_view text, int forMs, int everyMs) {
    HoldResult result;
    recording_.clear();
    const std::int64_t characterUs = characterTimeUs(LineParams{baud_});
    LineTime line;
    bool waiting = false;

    QEventLoop loop;
    QTimer repeat;
    QTimer pacer;
    QTimer release;
    repeat.setTimerType(Qt::PreciseTimer);
    pacer.setTimerType(Qt::PreciseTimer);
    pacer.setSingleShot(true);
    release.setTimerType(Qt::PreciseTimer);
    release.setSingleShot(true);

    const auto sendOne = [&] {
        waiting = false;
        pacer.stop();
        const std::size_t before = recording_.written().size();
        typeAndSend(text);
        const std::size_t bytes = recording_.written().size() - before;
        if (bytes == 0) {
            result.portError = lostOrNotSent().value_or("nothing was sent");
            loop.quit();
            return;
        }
        ++result.frames;
        line.written(bytes, characterUs, clock_.nowUs());
    };
    QObject::connect(&repeat, &QTimer::timeout, &loop, [&] {
        const int waitMs = line.waitMs(clock_.nowUs());
        if (waitMs == 0) {
            sendOne();
        } else if (!waiting) {
            // One repeat waits for the line; any that come due meanwhile are dropped.
            waiting = true;
            pacer.start(waitMs);
        }
    });
    QObject::connect(&pacer, &QTimer::timeout, &loop, sendOne);
    QObject::connect(&release, &QTimer::timeout, &loop, &QEventLoop::quit);
    window_.onPortNotice = [&] {
        if (!serial_.portOpen()) {
            result.portError = lostOrNotSent();
            loop.quit();
        }
    };

    sendOne();
    if (!result.portError) {
        repeat.start(everyMs);
        release.start(forMs);
        loop.exec();
    }
    window_.onPortNotice = nullptr;
    return result;
}

}  // namespace pj::ctl
