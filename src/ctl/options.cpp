// SPDX-License-Identifier: Apache-2.0
#include "ctl/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <map>

#include "link/port_target.h"
#include "link/tcp_endpoint.h"

namespace pj::ctl {

const std::string_view kUsage =
    R"(Usage: pjctl [--port PATH|tcp://HOST:PORT|unix:PATH] [--baud 19200|9600]
             [--address single|all|1|2|3|4] [--json] [--log FILE]
             [--timeout MS] [--gap MS] COMMAND ...

Controls a data projector on a serial line from scripts and schedulers, with the same frames,
timing and decoding as the pjpanel window.

Commands:
  send COMMAND     send one command and print the echo of the reply as the window's RXD
                   line shows it (" ACK " for a plain acknowledgement). COMMAND is a name
                   of "pjctl commands" ("power.on", "input.2.rgb", "status.operating"),
                   sent as its button sends it, or any command text ("C00"); a status query
                   is decoded as well (see --json). A name that is not known is refused,
                   with the nearest names
  query NAME       send a status query and print the readout exactly as the window's STATUS
                   line would show it; an answer the window does not decode prints an empty
                   line. NAME is one of
                     status (CR0)       operating state     setting (CR4)    image orientation
                     mode (CR1)         input mode          temp (CR6)       temperatures
                     lamp-time (CR3)    lamp hours          lamp-mode (CR7)  lamp state
                     mute (CRA)         mute and signal     raw (CR9)        the whole answer
                     pressure (CR PRESSURE)  air pressure
                   or the query's command text itself ("CR0", "CR PRESSURE")
  hold COMMAND --for MS --every MS
                   send COMMAND (a name, "zoom.in", or text) now and again every MS milliseconds for MS milliseconds, as a
                   held adjustment button does (a repeat waits while the line is still busy
                   with the frame before); print how many frames went out
  status [--all]   the operating state, input and lamp hours of the projector at --address,
                   or with --all of each address 1 to 4 in turn, as a table with the slowest
                   reply's time; exits 4 when no projector answers
  run FILE         send the commands of FILE ("-": standard input), one a line (a name
                   or command text), as send does, printing for each the command, its echo and any readout; a line
                   "wait MS" pauses, blank lines and lines beginning with "#" are passed
                   over. The whole file is checked before anything is sent; the run stops
                   at the first command that fails, naming its line
  commands         list every command name, one a line: the name, its command text, its
                   kind (one-shot, hold or query) and its group, tab-separated
  ports            list the serial ports of this machine, one a line: the device, its
                   /dev/serial/by-id link, the USB VID:PID and the adapter's description,
                   tab-separated ("-" for what the system does not say)
  doctor           find out why a line does not answer: whether the port is there, may be
                   opened and is free (and if not, who holds it and what to do), then the
                   status query at 19200 and 9600 baud, without an address and at each of
                   1 to 4, each try told apart as an answer, a loopback, silence or garbage,
                   with its latency; the USB adapter and its latency timer; a verdict and
                   the next step. Exit status 0 when a projector answers, 3 when the port
                   cannot be used, 4 when nothing answers
  decode QUERY     read an answer from standard input, bytes as they came, and print two
                   lines: the echo the window's RXD line would show, and the readout its
                   STATUS line would show after sending QUERY (the query's command text or
                   name). The readout line is empty when the window would leave its STATUS
                   line as it was (an answer it does not decode). Of a longer input only the
                   newest 1024 bytes count, as the window's receive buffer keeps (and are the
                   --json reply). No port is involved.

Options:
  --port PATH      the serial device (default: the panel's port 1: the first USB serial
                   adapter by its /dev/serial/by-id link, else /dev/ttyS0), or
                   tcp://HOST:PORT for a serial device server in raw TCP mode, or
                   unix:PATH (or a PATH that is a socket) for the local socket of pjline,
                   the line server, whose line the frames then share with its other
                   clients, each held for its answer
  --baud RATE      19200 (default) or 9600; no effect on a tcp:// port, where the device
                   server sets the line speed, nor on pjline's socket, where pjline does
  --address A      single (default: no address), all (every projector; they do not answer,
                   so no reply is then no failure), or 1 to 4
  --log FILE       add a record of the line's traffic to the end of FILE: JSON Lines, a
                   header, then each frame sent and each arrival with its time in
                   milliseconds, as hex and as text, which pjsim can play back
  --timeout MS     wait MS milliseconds for every reply (1 to 60000) instead of the
                   window's own reply window
  --gap MS         rest at least MS milliseconds after an answer before the next command
                   (0 to 60000), as some projectors need between commands
  --confirm[=LIST] send --address all: then ask each projector of LIST (default 1,2,3,4)
                   by its own address whether it took the command (power on, power off and
                   input 1 to 4 by their state, any other by its answering a status query);
                   print a line for each and exit 5 unless all confirm
  --json           send, query, decode, run: print one JSON object a command with the
                   command, the frame sent, the answer as received ("reply"; bytes as code
                   points U+0000 to U+00FF; null when nothing came), its echo, the readout
                   (null when the window would show none) and, for a status query, the
                   reply's values ("power", "input", "lamp_hours", ...; see README);
                   status: one JSON array; commands: one JSON array; ports, doctor: the
                   same facts as one JSON object
  --help           print this text
  --version        print the program's name and version
  --               the next argument is TEXT even if it begins with "-"

A reply is waited for as long as the window waits (0.5 s for the query buttons, 2 s for a
typed command), and taken as soon as it ends in a carriage return or is a lone ACK. On
pjline's socket the reply window starts when pjline writes the frame; a frame waits at most
10 s for its turn on the shared line, and then pjctl says "the line is busy" (exit 6).

Exit status:
  0  success
  1  another failure: standard input could not be read, the output could not be
     written, or a signal (SIGTERM, SIGINT, SIGHUP) ended the command, the port let go
  2  bad argument: nothing was sent
  3  port error: the port could not be opened, or went away during the command
  4  no reply: nothing came back before the reply window ended
  5  not confirmed: a projector did not confirm the command (--confirm)
  6  line busy: pjline's shared line gave the frame no turn within 10 s
Every failure also prints one line on standard error.
)";

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

std::optional<int> milliseconds(std::string_view text, int least = 1,
                                int most = 3'600'000 /* an hour */) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

struct VerbName {
    std::string_view name;
    Verb verb;
    std::size_t operands;
};

constexpr std::array<VerbName, 9> kVerbs{{
    {"send", Verb::Send, 1},
    {"query", Verb::Query, 1},
    {"hold", Verb::Hold, 1},
    {"ports", Verb::Ports, 0},
    {"decode", Verb::Decode, 1},
    {"status", Verb::Status, 0},
    {"run", Verb::Run, 1},
    {"doctor", Verb::Doctor, 0},
    {"commands", Verb::Commands, 0},
}};

// A set of commands, one bit each.
using VerbSet = unsigned;
constexpr VerbSet bit(Verb verb) {
    return 1u << static_cast<unsigned>(verb);
}
constexpr VerbSet kOnTheLine =
    bit(Verb::Send) | bit(Verb::Query) | bit(Verb::Hold) | bit(Verb::Status) | bit(Verb::Run);

// A value only as --option=VALUE; without it, the option means kEveryAddress.
enum class Takes { Nothing, Value, ValueAfterEquals };
constexpr std::string_view kEveryAddress = "1,2,3,4";

// Which commands each option applies to.
struct OptionRule {
    std::string_view option;
    Takes takes;
    VerbSet verbs;
};

constexpr std::array<OptionRule, 13> kOptionRules{{
    {"--port", Takes::Value, kOnTheLine | bit(Verb::Doctor)},
    {"--baud", Takes::Value, kOnTheLine},
    {"--address", Takes::Value, kOnTheLine},
    {"--json", Takes::Nothing,
     bit(Verb::Send) | bit(Verb::Query) | bit(Verb::Decode) | bit(Verb::Status) | bit(Verb::Run) |
         bit(Verb::Ports) | bit(Verb::Doctor) | bit(Verb::Commands)},
    {"--for", Takes::Value, bit(Verb::Hold)},
    {"--every", Takes::Value, bit(Verb::Hold)},
    {"--log", Takes::Value, kOnTheLine},
    {"--timeout", Takes::Value, kOnTheLine},
    {"--gap", Takes::Value, kOnTheLine & ~bit(Verb::Hold)},
    {"--all", Takes::Nothing, bit(Verb::Status)},
    {"--confirm", Takes::ValueAfterEquals, bit(Verb::Send)},
    {"--help", Takes::Nothing, 0},
    {"--version", Takes::Nothing, 0},
}};

const OptionRule* findOption(std::string_view name) {
    for (const OptionRule& rule : kOptionRules) {
        if (rule.option == name) {
            return &rule;
        }
    }
    return nullptr;
}

// "1,3": addresses 1 to 4, each once; nothing when it is not such a list.
std::optional<std::vector<int>> addressList(std::string_view text) {
    std::vector<int> addresses;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (item.size() != 1 || item[0] < '1' || item[0] > '4') {
            return std::nullopt;
        }
        const int address = item[0] - '0';
        if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) {
            return std::nullopt;
        }
        addresses.push_back(address);
        if (comma == std::string_view::npos) {
            return addresses;
        }
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

std::string visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (code < 0x20 || code == 0x7F) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02X", code);
            out += escaped.data();
        } else {
            out += c;
        }
    }
    return out;
}

const StatusQuery* findQuery(std::string_view nameOrCommand) {
    return findStatusQuery(nameOrCommand);
}

std::optional<Request> parseArguments(const std::vector<std::string>& args, std::string& error) {
    const auto fail = [&](std::string message) -> std::optional<Request> {
        error = std::move(message);
        return std::nullopt;
    };

    std::map<std::string_view, std::string> values;  // option -> value ("" for a flag)
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionRule* rule = findOption(name);
        if (rule == nullptr) {
            return fail("unknown option " + visible(name) + " (see --help)");
        }
        if (rule->option == "--help") {
            return Request{};
        }
        if (rule->option == "--version") {
            Request version;
            version.verb = Verb::Version;
            return version;
        }
        std::string value;
        if (equals != std::string::npos) {
            if (rule->takes == Takes::Nothing) {
                return fail(name + " takes no value");
            }
            value = arg.substr(equals + 1);
        } else if (rule->takes == Takes::Value) {
            if (i + 1 >= args.size()) {
                return fail(name + " needs a value");
            }
            value = args[++i];
        } else if (rule->takes == Takes::ValueAfterEquals) {
            value = kEveryAddress;
        }
        if (!values.emplace(rule->option, std::move(value)).second) {
            return fail(name + " is given twice");
        }
    }

    if (positional.empty()) {
        return fail(
            "no command given: send, query, hold, status, run, commands, ports, decode or "
            "doctor (see --help)");
    }
    const auto verb = std::find_if(kVerbs.begin(), kVerbs.end(),
                                   [&](const VerbName& v) { return v.name == positional[0]; });
    if (verb == kVerbs.end()) {
        return fail("unknown command \"" + visible(positional[0]) + "\" (see --help)");
    }
    if (positional.size() - 1 != verb->operands) {
        static constexpr std::array<std::string_view, 2> kWant{"no operand", "one operand"};
        return fail(std::string(verb->name) + " takes " + std::string(kWant[verb->operands]) +
                    (verb->operands == 1 ? " (quote text that has spaces)" : ""));
    }

    Request request;
    request.verb = verb->verb;
    for (const auto& [option, value] : values) {
        if ((findOption(option)->verbs & bit(request.verb)) == 0) {
            return fail(std::string(option) + " does not apply to " + std::string(verb->name));
        }
    }

    if (const auto it = values.find("--port"); it != values.end()) {
        if (it->second.empty()) {
            return fail("--port needs a device path, tcp://HOST:PORT or unix:PATH");
        }
        // A network port's or a socket's name is checked now, so that a mistake in it is a
        // bad argument rather than a port that would not open.
        std::string problem;
        if ((isTcpDevice(it->second) && !parseTcpDevice(it->second, &problem)) ||
            (isLocalSocketName(it->second) && !parseLocalSocketName(it->second, &problem))) {
            return fail(visible(problem));
        }
        request.port = it->second;
    }
    if (const auto it = values.find("--baud"); it != values.end()) {
        if (it->second != "19200" && it->second != "9600") {
            return fail("--baud must be 19200 or 9600");
        }
        request.baud = it->second == "9600" ? 9600 : 19200;
    }
    if (const auto it = values.find("--address"); it != values.end()) {
        request.address = findAddress(std::string_view(lower(it->second)));
        if (request.address == nullptr) {
            return fail("--address must be single, all, 1, 2, 3 or 4");
        }
    }
    request.json = values.count("--json") != 0;
    request.all = values.count("--all") != 0;
    if (request.all && values.count("--address") != 0) {
        return fail("--all asks every address in turn: it does not go with --address");
    }
    if (const auto it = values.find("--log"); it != values.end()) {
        if (it->second.empty()) {
            return fail("--log needs a file");
        }
        request.logPath = it->second;
    }
    if (const auto it = values.find("--timeout"); it != values.end()) {
        request.timeoutMs = milliseconds(it->second, 1, kLongestTimeoutMs);
        if (!request.timeoutMs) {
            return fail("--timeout must be 1 to " + std::to_string(kLongestTimeoutMs) +
                        " milliseconds");
        }
    }
    if (const auto it = values.find("--gap"); it != values.end()) {
        const auto ms = milliseconds(it->second, 0, kLongestGapMs);
        if (!ms) {
            return fail("--gap must be 0 to " + std::to_string(kLongestGapMs) + " milliseconds");
        }
        request.gapMs = *ms;
    }
    if (const auto it = values.find("--confirm"); it != values.end()) {
        if (request.address->name != "all") {
            return fail("--confirm checks a command sent to all projectors: give --address all");
        }
        const auto addresses = addressList(it->second);
        if (!addresses) {
            return fail("--confirm=LIST takes addresses 1 to 4, each once, such as 1,3");
        }
        request.confirm = *addresses;
    }

    switch (request.verb) {
        case Verb::Send:
        case Verb::Hold:
            request.text = positional[1];
            if (looksLikeCommandName(request.text)) {
                request.command = findCommand(request.text);
                if (request.command == nullptr) {
                    std::string nearest;
                    for (const std::string_view name : nearestCommandNames(request.text)) {
                        nearest += (nearest.empty() ? "" : ", ") + std::string(name);
                    }
                    return fail("unknown command name \"" + request.text + "\": did you mean " +
                                nearest + "? (see pjctl commands)");
                }
                request.text = request.command->text;
            }
            if (!isAscii(request.text)) {
                return fail("the command may contain ASCII characters only");
            }
            if (request.text.find_first_of("\r\n") != std::string::npos) {
                return fail("the command may not contain a carriage return or line feed");
            }
            break;
        case Verb::Query:
        case Verb::Decode:
            request.query = findQuery(positional[1]);
            if (request.query == nullptr) {
                return fail("unknown query \"" + visible(positional[1]) +
                            "\": status, mode, lamp-time, setting, temp, lamp-mode, mute, raw, "
                            "pressure, or their command text (CR0 ... CR PRESSURE)");
            }
            break;
        case Verb::Run:
            request.file = positional[1];
            break;
        case Verb::Ports:
        case Verb::Status:
        case Verb::Doctor:
        case Verb::Commands:
        case Verb::Help:
        case Verb::Version:
            break;
    }

    if (request.verb == Verb::Hold) {
        for (const auto& [option, target] :
             {std::pair{"--for", &request.holdForMs}, std::pair{"--every", &request.holdEveryMs}}) {
            const auto it = values.find(option);
            if (it == values.end()) {
                return fail(std::string("hold needs ") + option + " MS");
            }
            const auto ms = milliseconds(it->second);
            if (!ms) {
                return fail(std::string(option) + " must be 1 to 3600000 milliseconds");
            }
            *target = *ms;
        }
    }
    return request;
}

}  // namespace pj::ctl
