#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/form.h"
#include "app/recording_window.h"
#include "ctl/options.h"
#include "shell/qt_clock.h"
#include "shell/qt_serial_control.h"
#include "shell/qt_timer.h"

namespace pj::ctl {

// The serial control as the core sees it, keeping a copy of what went out and what came in
// since the last clear.
class RecordingSerial final : public SerialControl {
  public:
    explicit RecordingSerial(SerialControl& inner) : inner_(inner) {}

    SerialError setCommPort(int port) override { return inner_.setCommPort(port); }
    int commPort() const override { return inner_.commPort(); }
    SerialError setSettings(std::string_view s) override { return inner_.setSettings(s); }
    bool portOpen() const override { return inner_.portOpen(); }
    SerialError setPortOpen(bool open) override { return inner_.setPortOpen(open); }
    SerialError output(std::string_view bytes) override;
    std::string input() override;
    int commEvent() const override { return inner_.commEvent(); }
    // The core's handler runs first, then the one set by setAfterComm().
    void setOnComm(std::function<void()> handler) override;
    void setAfterComm(std::function<void()> handler) { afterComm_ = std::move(handler); }

    void clear();
    const std::string& written() const { return written_; }
    const std::string& received() const { return received_; }

  private:
    SerialControl& inner_;
    std::string written_;
    std::string received_;
    std::function<void()> afterComm_;
};

// A window timer that says when it is switched off: the end of the reply window.
class WatchedTimer final : public Timer {
  public:
    void setInterval(int ms) override { inner_.setInterval(ms); }
    int interval() const override { return inner_.interval(); }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return inner_.enabled(); }
    void setOnTimer(std::function<void()> handler) override;
    void setOnStopped(std::function<void()> handler) { onStopped_ = std::move(handler); }

  private:
    QtTimer inner_;
    std::function<void()> onStopped_;
};

// One command sent and its answer, as the window showed them.
struct Exchange {
    std::string frame;                   // the bytes written
    std::optional<std::string> reply;    // the bytes received; nothing when none came
    std::string echo;                    // the RXD line: the reply's echo or " X X X X"
    std::optional<std::string> readout;  // the STATUS line; nothing when it shows nothing
    std::optional<std::string> portError;
};

struct HoldResult {
    int frames = 0;
    std::optional<std::string> portError;
};

// The panel's core on a real port, driven headless: commands go out through the window's
// own buttons and manual entry, and the displays are read back as the operator would read
// them. Needs a QCoreApplication; makes no widgets.
class Session {
  public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // Starts the window on `request.port` (the panel's port 1 when empty) and chooses the
    // speed and the address. On failure, says why in one line.
    std::optional<std::string> open(const Request& request);
    // The device behind port 1, for messages.
    QString portName() const { return serial_.device(1); }

    // A status query: its button when the panel has one, else typed in and sent.
    Exchange query(const NamedQuery& query);
    // Any command text, typed in and sent.
    Exchange send(std::string_view text);
    // Sends `text` now and every `everyMs` for `forMs`, holding a repeat back while the line
    // is busy with the frame before.
    HoldResult hold(std::string_view text, int forMs, int everyMs);

  private:
    Exchange exchange(const std::function<void()>& sendIt);
    // Types `text` into the entry box and presses "SEND".
    void typeAndSend(std::string_view text);
    std::optional<std::string> lostOrNotSent() const;

    QtSerialControl serial_;
    RecordingSerial recording_{serial_};
    QtTimer timer1_;
    WatchedTimer timer2_;
    QtTimer timer3_;
    QtTimer timer4_;
    QtTimer pacer_;
    QtTimer reconnect_;
    SteadyClock clock_;
    RecordingWindow window_;
    Form form_;
    int baud_ = 19200;
};

}  // namespace pj::ctl
