#include "ctl/ctl.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <iterator>

#include "app/form.h"
#include "app/recording_window.h"
#include "ctl/session.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/serial_ports.h"

namespace pj::ctl {

namespace {

// The line of "decode": what goes out goes nowhere, and the answer is given by the caller.
class DecodeLine final : public SerialControl {
  public:
    SerialResult setCommPort(int port) override {
        port_ = port;
        return SerialResult::done();
    }
    int commPort() const override { return port_; }
    SerialResult setSettings(std::string_view) override { return SerialResult::done(); }
    bool portOpen() const override { return open_; }
    SerialResult setPortOpen(bool open) override {
        open_ = open;
        return SerialResult::done();
    }
    SerialResult output(std::string_view) override {
        return open_ ? SerialResult::done() : SerialResult::failed("the port is not open");
    }
    void setOnComm(std::function<void(const CommEvent&)> handler) override {
        onComm_ = std::move(handler);
    }
    void arrive(std::string_view bytes) const {
        if (onComm_) {
            onComm_({CommEvent::Kind::Receive, std::string(bytes)});
        }
    }

  private:
    int port_ = 1;
    bool open_ = false;
    std::function<void(const CommEvent&)> onComm_;
};

// What the window showed of an answer.
struct Readings final : FormObserver {
    void received(std::string_view, std::string_view shown) override { echo = shown; }
    void readout(std::string_view text) override { readoutText = std::string(text); }

    std::string echo;
    std::optional<std::string> readoutText;
};

int complain(std::ostream& err, int status, std::string_view message) {
    // Whatever of the user's text a message quotes, it stays one line.
    err << "pjctl: " << visible(message) << "\n";
    return status;
}

std::string jsonOptional(const std::optional<std::string>& text) {
    return text ? jsonString(*text) : std::string("null");
}

// One line of JSON: the command, the frame when one was sent, the answer and what the window
// made of it.
void printJson(std::ostream& out, std::string_view command, const std::string* frame,
               const std::optional<std::string>& reply, std::string_view echo,
               const std::optional<std::string>& readout) {
    out << "{\"command\":" << jsonString(command);
    if (frame != nullptr) {
        out << ",\"frame\":" << jsonString(*frame);
    }
    out << ",\"reply\":" << jsonOptional(reply) << ",\"echo\":" << jsonString(echo)
        << ",\"readout\":" << jsonOptional(readout) << "}\n";
}

int decode(const Request& request, std::istream& in, std::ostream& out, std::ostream& err) {
    const std::string reply{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return complain(err, kExitFailure, "standard input could not be read");
    }
    const Decoded decoded = decodeReply(*request.query, reply);
    if (request.json) {
        printJson(out, request.query->command, nullptr,
                  reply.empty() ? std::nullopt : std::optional(reply), decoded.echo,
                  decoded.readout);
    } else {
        out << decoded.echo << "\n" << decoded.readout.value_or("") << "\n";
    }
    if (reply.empty()) {
        return complain(err, kExitNoReply, "no reply: standard input was empty");
    }
    return kExitOk;
}

int listPorts(std::ostream& out) {
    for (const posix::SerialPortEntry& port : posix::serialPorts()) {
        out << port.device;
        if (!port.description.empty()) {
            out << "\t" << port.description;
        }
        out << "\n";
    }
    return kExitOk;
}

int exchange(const Request& request, std::ostream& out, std::ostream& err) {
    Session session;
    if (const auto error = session.open(request)) {
        return complain(err, kExitPortError, *error);
    }

    if (request.verb == Verb::Hold) {
        const HoldResult held = session.hold(request.text, request.holdForMs, request.holdEveryMs);
        if (held.portError) {
            return complain(err, kExitPortError, *held.portError);
        }
        out << held.frames << (held.frames == 1 ? " frame" : " frames") << " sent\n";
        return kExitOk;
    }

    const Exchange result =
        request.verb == Verb::Query ? session.query(*request.query) : session.send(request.text);
    if (result.portError) {
        return complain(err, kExitPortError, *result.portError);
    }
    const std::string_view command =
        request.verb == Verb::Query ? request.query->command : std::string_view(request.text);
    if (request.json) {
        printJson(out, command, &result.frame, result.reply, result.echo, result.readout);
    } else if (result.reply) {
        out << (request.verb == Verb::Query ? result.readout.value_or("") : result.echo) << "\n";
    }
    // Frames for every projector are acted on by all and answered by none.
    if (!result.reply && request.address->name != "all") {
        return complain(err, kExitNoReply,
                        "no reply from " + session.portName() + " to " + std::string(command));
    }
    return kExitOk;
}

}  // namespace

Decoded decodeReply(const NamedQuery& query, std::string_view reply) {
    if (reply.empty()) {
        return {std::string(kNoReplyMark), std::nullopt};
    }
    // The window itself, on a line whose answer is `reply`: the query goes out the window's
    // way and the answer is taken in as one arrival.
    // Its timers are set going but never reached: the loop is not run.
    DecodeLine line;
    posix::EventLoop loop;
    posix::LoopFormTimers timers(loop);
    posix::MonotonicClock clock;
    RecordingWindow window;
    Form form(window, line, timers.all(), clock);
    Readings seen;
    form.setObserver(&seen);
    form.Load();
    sendQuery(form, query);
    line.arrive(reply);
    form.setObserver(nullptr);
    return {seen.echo, seen.readoutText};
}

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (code < 0x20 || code >= 0x7F) {
                    std::array<char, 8> escaped{};
                    std::snprintf(escaped.data(), escaped.size(), "\\u%04X", code);
                    out += escaped.data();
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
    std::string error;
    const std::optional<Request> request = parseArguments(args, error);
    if (!request) {
        return complain(err, kExitBadArgument, error);
    }
    switch (request->verb) {
        case Verb::Help:
            out << kUsage;
            return kExitOk;
        case Verb::Decode:
            return decode(*request, in, out, err);
        case Verb::Ports:
            return listPorts(out);
        case Verb::Send:
        case Verb::Query:
        case Verb::Hold:
            break;
    }
    return exchange(*request, out, err);
}

}  // namespace pj::ctl
