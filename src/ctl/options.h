// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "projector/commands.h"
#include "protocol/frame.h"
#include "status/queries.h"

namespace pj::ctl {

// What pjctl's exit status says.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;      // anything else: standard input unreadable, ...
inline constexpr int kExitBadArgument = 2;  // the command line is wrong; nothing was sent
inline constexpr int kExitPortError = 3;    // the port could not be opened, or went away
inline constexpr int kExitNoReply = 4;      // the reply window ended with nothing received
inline constexpr int kExitLineBusy = 6;     // pjline's line gave the frame no turn in time

// A status query by its name ("status", "status.operating") or its command text ("CR0",
// exact case); nothing if unknown.
const StatusQuery* findQuery(std::string_view nameOrCommand);

enum class Verb { Help, Send, Query, Hold, Ports, Decode, Status, Run, Version, Doctor, Commands };

// The projector addresses a command line can name one by one.
inline constexpr std::array<int, 4> kProjectorAddresses{1, 2, 3, 4};
// The longest reply window and the longest rest between commands that can be asked for.
inline constexpr int kLongestTimeoutMs = 60'000;
inline constexpr int kLongestGapMs = 60'000;

// One run of pjctl, as its command line asks for it.
struct Request {
    Verb verb = Verb::Help;
    std::string port;  // empty: the panel's own port 1 (see defaultPortDevices)
    int baud = 19200;
    const AddressOption* address = &kAddressOptions[0];
    std::string text;                    // send, hold: the command text
    const Command* command = nullptr;    // send, hold: the command named, if one was
    const StatusQuery* query = nullptr;  // query, decode
    int holdForMs = 0;                   // hold
    int holdEveryMs = 0;                 // hold
    bool json = false;             // send, query, decode, status, run, ports, doctor, commands
    std::string logPath;           // a line log of the traffic; empty: none
    std::optional<int> timeoutMs;  // every reply window; nothing: the window's own
    int gapMs = 0;                 // the least rest after an answer before a command
    bool all = false;              // status: every address, 1 to 4
    std::vector<int> confirm;      // send: the addresses that must confirm, in order
    std::string file;              // run: the command file, "-" for standard input
};

// Reads the arguments after the program name. On a mistake, gives nothing and says what is
// wrong in `error`, in one line.
std::optional<Request> parseArguments(const std::vector<std::string>& args, std::string& error);

// `text` as a message quotes it: a control character shows as \r, \n, \t or \xNN, so that
// whatever the user typed, the message stays on one line.
std::string visible(std::string_view text);

extern const std::string_view kUsage;

}  // namespace pj::ctl
