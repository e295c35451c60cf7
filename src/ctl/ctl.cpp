// SPDX-License-Identifier: Apache-2.0
#include "ctl/ctl.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>

#include "app/form.h"
#include "app/recording_window.h"
#include "ctl/doctor.h"
#include "ctl/on_line.h"
#include "ctl/output.h"
#include "ctl/session.h"
#include "link/serial_ports.h"
#include "link/transaction.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"

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

// Standard input to its end, of which only the newest kRxBufferCap bytes are kept: all that
// the receive buffer would hold of it had it come on the line, so a stream without end costs
// no more than a short one. Nothing when it could not be read.
std::optional<std::string> readNewest(std::istream& in) {
    constexpr std::size_t kChunk = 16384;
    std::array<char, kChunk> chunk{};
    std::string newest;
    newest.reserve(kRxBufferCap + kChunk);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        newest.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (newest.size() > kRxBufferCap) {
            newest.erase(0, newest.size() - kRxBufferCap);
        }
    }
    if (in.bad()) {
        return std::nullopt;
    }
    return newest;
}

int decode(const Request& request, std::istream& in, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> reply = readNewest(in);
    if (!reply) {
        return complain(err, kExitFailure, "standard input could not be read");
    }
    const Decoded decoded = decodeReply(*request.query, *reply);
    if (request.json) {
        printJson(out, request.query->command, nullptr, reply->empty() ? std::nullopt : reply,
                  decoded.echo, decoded.readout);
    } else {
        out << decoded.echo << "\n" << decoded.readout.value_or("") << "\n";
    }
    if (const auto failed = unwritten(out, err)) {
        return *failed;
    }
    if (reply->empty()) {
        return complain(err, kExitNoReply, "no reply: standard input was empty");
    }
    return kExitOk;
}

std::string factOrDash(const std::string& text) {
    return text.empty() ? std::string("-") : text;
}

int listPorts(const Request& request, std::ostream& out, std::ostream& err) {
    const std::vector<SerialPortFacts> ports = scanSerialPorts();
    if (request.json) {
        out << "{\"ports\":[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const SerialPortFacts& p = ports[i];
            out << (i > 0 ? "," : "") << "{\"device\":" << jsonString(p.device) << ",\"by_id\":[";
            for (std::size_t j = 0; j < p.byId.size(); ++j) {
                out << (j > 0 ? "," : "") << jsonString(p.byId[j]);
            }
            out << "],\"vid_pid\":"
                << (p.usb() ? jsonString(p.vendorId + ":" + p.productId) : std::string("null"))
                << ",\"serial\":" << jsonString(p.serialNumber)
                << ",\"description\":" << jsonString(p.description())
                << ",\"driver\":" << jsonString(p.driver) << "}";
        }
        out << "]}\n";
    } else {
        for (const SerialPortFacts& p : ports) {
            out << p.device << "\t" << (p.byId.empty() ? "-" : p.byId.front()) << "\t"
                << (p.usb() ? p.vendorId + ":" + p.productId : "-") << "\t"
                << factOrDash(p.description()) << "\n";
        }
    }
    return unwritten(out, err).value_or(kExitOk);
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
            return unwritten(out, err).value_or(kExitOk);
        case Verb::Version:
            out << "pjctl " PJ_VERSION "\n";
            return unwritten(out, err).value_or(kExitOk);
        case Verb::Decode:
            return decode(*request, in, out, err);
        case Verb::Ports:
            return listPorts(*request, out, err);
        case Verb::Doctor:
            return doctor(*request, out, err);
        case Verb::Send:
        case Verb::Query:
        case Verb::Hold:
        case Verb::Status:
        case Verb::Run:
            break;
    }
    return onTheLine(*request, in, out, err);
}

}  // namespace pj::ctl
