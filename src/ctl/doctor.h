// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/options.h"
#include "link/serial_ports.h"
#include "posix/device_lock.h"

namespace pj::ctl {

// What came of one status query on the line.
enum class TryResult {
    Answer,    // a status reply the window decodes
    Loopback,  // what was sent came back: a loopback plug, or a cable that joins TXD to RXD
    Silence,   // nothing at all: the cable, a missing null-modem, the projector's power
    Garbage,   // bytes, but no status reply: a wrong speed, noise
};

std::string_view tryResultName(TryResult result);

// One query at one speed and one address.
struct ProbeTry {
    int baud = 19200;
    std::string_view address;  // "single", "1" ... "4"
    std::string frame;
    std::optional<std::string> reply;  // its first kLongestReplyKept bytes
    std::size_t replyBeyond = 0;       // bytes that came past those
    std::optional<std::string> readout;
    TryResult result = TryResult::Silence;
    double ms = 0;  // from the send to the end of the reply (or of the reply window)
};

// Classifies an answer to the frame `frame`: `readout` is what the window's STATUS line made
// of `reply`.
TryResult classify(std::string_view frame, const std::optional<std::string>& reply,
                   const std::optional<std::string>& readout);

// Why the port cannot be used, when it cannot.
enum class PortProblem { None, Missing, NoPermission, InUse, CannotOpen };

using Holder = posix::DeviceHolder;

// Everything the doctor found out about a port.
struct Findings {
    std::string port;    // as named
    std::string device;  // links followed
    bool network = false;
    PortProblem problem = PortProblem::None;
    std::string reason;  // the system's word for the problem
    // Access: the device's group and mode, the user, and whether the user is in the group
    // now (this login) and at all (the group database).
    std::string group;
    std::string user;
    unsigned mode = 0;
    bool owner = false;  // the user owns the device
    bool inGroupNow = false;
    bool inGroupListed = false;
    std::vector<Holder> holders;
    std::vector<SerialPortFacts> available;  // when the port is missing
    std::optional<SerialPortFacts> facts;
    std::vector<ProbeTry> tries;
};

// The verdict: what is wrong or right, what to do next, and the exit status.
struct Verdict {
    std::string text;
    std::string next;
    int exitStatus = kExitOk;
};

Verdict judge(const Findings& findings);

// For an FTDI adapter whose latency timer is above 1 ms, what that costs and how to set it;
// nothing otherwise.
std::optional<std::string> latencyAdvice(const SerialPortFacts& facts);

using posix::deviceHolders;

// Told of the findings as they come: once the port was examined, and after each try.
struct ExamineWatch {
    std::function<void(const Findings&)> examined;
    std::function<void(const ProbeTry&)> tried;
};

// Examines `port` (a device path or tcp://HOST:PORT) and, when it can be used, sends it the
// status query at each speed and address. Nothing when a signal ended it.
std::optional<Findings> examinePort(const std::string& port, const ExamineWatch& watch = {});

// The most of a try's reply the report quotes; the length in all follows it.
constexpr std::size_t kReplyShown = 64;

// The whole of "pjctl doctor": examines the port, probes it, prints the report (one JSON
// object with --json) and gives the exit status.
int doctor(const Request& request, std::ostream& out, std::ostream& err);

}  // namespace pj::ctl
