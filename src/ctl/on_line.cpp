// SPDX-License-Identifier: Apache-2.0
#include "ctl/on_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "ctl/command_file.h"
#include "ctl/output.h"
#include "ctl/session.h"
#include "link/line_wire.h"
#include "link/serial_ports.h"
#include "status/value_json.h"

namespace pj::ctl {

namespace {

// What a command to all projectors leaves each of them showing, when it can be told: the
// query that tells it and the answers (without their carriage return) that confirm it. Any
// other command is confirmed by the projector answering a status query at all.
struct Confirmation {
    std::string_view command;
    std::string_view query;
    std::array<std::string_view, 2> accepted;
};

constexpr std::array<Confirmation, 6> kConfirmations{{
    {"C00", "CR0", {"00", "40"}},  // on, or counting down to it
    {"C01", "CR0", {"80", "20"}},  // standby, or cooling down to it
    {"C05", "CR1", {"1", "1"}},
    {"C06", "CR1", {"2", "2"}},
    {"C07", "CR1", {"3", "3"}},
    {"C08", "CR1", {"4", "4"}},
}};

constexpr int kExitNotConfirmed = 5;

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return out;
}

std::string withoutReturn(std::string text) {
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    return text;
}

const AddressOption& addressOption(int address) {
    return *findAddress(address);
}

std::string milliseconds(const std::optional<double>& ms) {
    if (!ms) {
        return "-";
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f", *ms);
    return text.data();
}

// A port error's exit status: pjline's line too busy to take the frame has its own.
int portErrorStatus(const std::string& error) {
    return error.find(wire::kLineBusy) != std::string::npos ? kExitLineBusy : kExitPortError;
}

// What the session's line was told, as pjctl's failures say it.
std::optional<int> failed(const Exchange& result, const Request& request, Session& session,
                          std::string_view command, std::string_view where, std::ostream& err) {
    if (session.interrupted()) {
        return complain(err, kExitFailure, "interrupted");
    }
    if (result.portError) {
        return complain(err, portErrorStatus(*result.portError),
                        std::string(where) + *result.portError);
    }
    // Frames for every projector are acted on by all and answered by none.
    if (!result.reply && request.address->name != "all") {
        return complain(err, kExitNoReply,
                        std::string(where) + "no reply from " + session.portName() + " to " +
                            std::string(command));
    }
    return std::nullopt;
}

int hold(const Request& request, Session& session, std::ostream& out, std::ostream& err) {
    const HoldResult held = session.hold(request.text, request.holdForMs, request.holdEveryMs);
    if (session.interrupted()) {
        return complain(err, kExitFailure, "interrupted");
    }
    if (held.portError) {
        return complain(err, portErrorStatus(*held.portError), *held.portError);
    }
    out << held.frames << (held.frames == 1 ? " frame" : " frames") << " sent\n";
    return unwritten(out, err).value_or(kExitOk);
}

// Each projector of `request.confirm` asked, by its own address, whether it shows what the
// command to all of them should have left. Prints one line for each.
int confirm(const Request& request, Session& session, std::ostream& out, std::ostream& err) {
    const auto rule =
        std::find_if(kConfirmations.begin(), kConfirmations.end(),
                     [&](const Confirmation& c) { return c.command == upper(request.text); });
    const StatusQuery& query = *findQuery(rule != kConfirmations.end() ? rule->query : "CR0");
    int unconfirmed = 0;
    for (const int address : request.confirm) {
        session.choose(addressOption(address));
        const Exchange result = session.query(query);
        if (session.interrupted()) {
            return complain(err, kExitFailure, "interrupted");
        }
        if (result.portError) {
            return complain(err, portErrorStatus(*result.portError), *result.portError);
        }
        const std::string answer = withoutReturn(result.reply.value_or(""));
        const bool confirmed =
            result.reply &&
            (rule == kConfirmations.end() ? result.readout.has_value()
                                          : std::find(rule->accepted.begin(), rule->accepted.end(),
                                                      answer) != rule->accepted.end());
        unconfirmed += confirmed ? 0 : 1;
        if (request.json) {
            Json line;
            line["address"] = address;
            line["confirmed"] = confirmed;
            line["query"] = query.command;
            line["reply"] = bytesOrNull(result.reply);
            line["readout"] = bytesOrNull(result.readout);
            printJsonLine(out, line);
        } else {
            out << address << '\t' << (confirmed ? "confirmed" : "NOT CONFIRMED") << '\t'
                << (result.reply ? result.readout.value_or(result.echo) : "no reply") << "\n";
        }
    }
    if (const auto notWritten = unwritten(out, err)) {
        return *notWritten;
    }
    if (unconfirmed > 0) {
        return complain(err, kExitNotConfirmed,
                        std::to_string(unconfirmed) + " of " +
                            std::to_string(request.confirm.size()) +
                            " projectors did not confirm " + request.text);
    }
    return kExitOk;
}

int one(const Request& request, Session& session, std::ostream& out, std::ostream& err) {
    const Exchange result = request.verb == Verb::Query ? session.query(*request.query)
                            : request.command != nullptr
                                ? session.send(*request.command)
                                : session.send(std::string_view(request.text));
    const std::string_view command =
        request.verb == Verb::Query ? request.query->command : std::string_view(request.text);
    if (session.interrupted() || result.portError) {
        return *failed(result, request, session, command, "", err);
    }
    if (request.json) {
        printJson(out, command, &result.frame, result.reply, result.echo, result.readout,
                  result.value);
    } else if (result.reply) {
        out << (request.verb == Verb::Query ? result.readout.value_or("") : result.echo) << "\n";
    }
    if (const auto notWritten = unwritten(out, err)) {
        return *notWritten;
    }
    if (const auto failure = failed(result, request, session, command, "", err)) {
        return *failure;
    }
    return request.confirm.empty() ? kExitOk : confirm(request, session, out, err);
}

// The operating state, input and lamp hours of one projector, or of each address in turn.
int status(const Request& request, Session& session, std::ostream& out, std::ostream& err) {
    static constexpr std::array<std::string_view, 3> kColumns{"status.operating", "status.input",
                                                              "status.lamp-hours"};
    std::vector<const AddressOption*> rows;
    if (request.all) {
        for (const int address : kProjectorAddresses) {
            rows.push_back(&addressOption(address));
        }
    } else {
        rows.push_back(request.address);
    }
    if (!request.json) {
        out << "ADDRESS\tPOWER\tINPUT\tLAMP\tREPLY MS\n";
    }
    int answering = 0;
    Json json = Json::array();
    for (const AddressOption* row : rows) {
        session.choose(*row);
        std::array<std::optional<std::string>, kColumns.size()> readouts;
        Json values;
        std::optional<double> latency;
        for (std::size_t i = 0; i < kColumns.size(); ++i) {
            const Exchange result = session.query(*findQuery(kColumns[i]));
            if (session.interrupted()) {
                return complain(err, kExitFailure, "interrupted");
            }
            if (result.portError) {
                return complain(err, portErrorStatus(*result.portError), *result.portError);
            }
            if (!result.reply) {
                break;  // no projector there: the rest would not be answered either
            }
            readouts[i] = result.readout.value_or(result.echo);
            addValueFields(values, result.value);
            if (result.latencyMs) {
                latency = std::max(latency.value_or(0.0), *result.latencyMs);
            }
        }
        answering += readouts[0] ? 1 : 0;
        if (request.json) {
            Json line;
            line["address"] = row->name;
            for (const char* field : {"power", "operating_state", "input", "lamp_hours"}) {
                line[field] = values.contains(field) ? values[field] : Json(nullptr);
            }
            line["reply_ms"] = latency ? Json(std::round(*latency * 10.0) / 10.0) : Json(nullptr);
            json.push_back(std::move(line));
        } else {
            out << row->name;
            for (const auto& readout : readouts) {
                out << '\t' << (readout ? *readout : readouts[0] ? "-" : "no reply");
            }
            out << '\t' << milliseconds(latency) << "\n";
        }
    }
    if (request.json) {
        printJsonLine(out, json);
    }
    if (const auto notWritten = unwritten(out, err)) {
        return *notWritten;
    }
    if (answering == 0) {
        return complain(err, kExitNoReply, "no projector on " + session.portName() + " answered");
    }
    return kExitOk;
}

// The command file's steps, in order, until one fails.
int runFile(const Request& request, const std::vector<Step>& steps, Session& session,
            std::ostream& out, std::ostream& err) {
    for (const Step& step : steps) {
        const std::string where = request.file + ":" + std::to_string(step.line) + ": ";
        if (step.kind == Step::Kind::Wait) {
            session.pause(step.waitMs);
            if (session.interrupted()) {
                return complain(err, kExitFailure, "interrupted");
            }
            continue;
        }
        const Exchange result = step.command != nullptr ? session.send(*step.command)
                                                        : session.send(std::string_view(step.text));
        if (session.interrupted() || result.portError) {
            return *failed(result, request, session, step.text, where, err);
        }
        if (request.json) {
            printJson(out, step.text, &result.frame, result.reply, result.echo, result.readout,
                      result.value);
        } else {
            out << step.text << '\t' << (result.reply ? result.echo : "-");
            if (result.readout) {
                out << '\t' << *result.readout;
            }
            out << "\n";
        }
        if (const auto notWritten = unwritten(out, err)) {
            return *notWritten;
        }
        if (const auto failure = failed(result, request, session, step.text, where, err)) {
            return *failure;
        }
    }
    return kExitOk;
}

// The command file, read whole and checked before anything is sent.
std::optional<std::vector<Step>> readCommandFile(const Request& request, std::istream& in,
                                                 std::string& error) {
    std::ifstream file;
    if (request.file != "-") {
        file.open(request.file, std::ios::binary);
        if (!file) {
            error = "cannot read " + request.file + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    std::istream& source = request.file == "-" ? in : file;
    std::string content;
    std::array<char, 16384> chunk{};
    while (source && content.size() <= kCommandFileMost) {
        source.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        content.append(chunk.data(), static_cast<std::size_t>(source.gcount()));
    }
    if (source.bad()) {
        error = "cannot read " + request.file;
        return std::nullopt;
    }
    if (content.size() > kCommandFileMost) {
        error = request.file + " is larger than " + std::to_string(kCommandFileMost) + " bytes";
        return std::nullopt;
    }
    auto steps = parseCommandFile(content, error);
    if (!steps) {
        error = request.file + ": " + error;
    }
    return steps;
}

}  // namespace

int onTheLine(const Request& given, std::istream& in, std::ostream& out, std::ostream& err) {
    // A port not named is the panel's own port 1.
    Request request = given;
    if (request.port.empty()) {
        request.port = defaultPortDevices()[0];
    }
    std::vector<Step> steps;
    if (request.verb == Verb::Run) {
        std::string error;
        auto read = readCommandFile(request, in, error);
        if (!read) {
            return complain(err, kExitBadArgument, error);
        }
        steps = std::move(*read);
    }
    std::ofstream log;
    if (!request.logPath.empty()) {
        // Each run adds to the log, beginning with a header of its own.
        log.open(request.logPath, std::ios::app | std::ios::binary);
        if (!log) {
            return complain(
                err, kExitBadArgument,
                "cannot write the log " + request.logPath + ": " + std::strerror(errno));
        }
    }

    // A signal ends the command wherever it is, and the session's end lets the port go.
    Session session;
    const std::optional<std::string> openError =
        session.open(request, log.is_open() ? &log : nullptr);
    if (session.interrupted()) {
        return complain(err, kExitFailure, "interrupted");
    }
    if (openError) {
        return complain(err, kExitPortError, *openError);
    }
    int status = kExitOk;
    switch (request.verb) {
        case Verb::Hold:
            status = hold(request, session, out, err);
            break;
        case Verb::Status:
            status = pj::ctl::status(request, session, out, err);
            break;
        case Verb::Run:
            status = runFile(request, steps, session, out, err);
            break;
        default:
            status = one(request, session, out, err);
            break;
    }
    if (!session.logGood() && status == kExitOk) {
        return complain(err, kExitFailure, "cannot write the log " + request.logPath);
    }
    return status;
}

}  // namespace pj::ctl
