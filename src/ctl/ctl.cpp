// SPDX-License-Identifier: Apache-2.0
#include "ctl/ctl.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>

#include "ctl/doctor.h"
#include "ctl/on_line.h"
#include "ctl/output.h"
#include "ctl/session.h"
#include "link/serial_ports.h"
#include "projector/commands.h"
#include "protocol/echo.h"
#include "protocol/reply.h"

namespace pj::ctl {

namespace {

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
                  decoded.echo, decoded.readout, decoded.value);
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
        Json list = Json::array();
        for (const SerialPortFacts& p : ports) {
            Json port;
            port["device"] = bytesJson(p.device);
            port["by_id"] = Json::array();
            for (const std::string& link : p.byId) {
                port["by_id"].push_back(bytesJson(link));
            }
            port["vid_pid"] = p.usb() ? bytesJson(p.vendorId + ":" + p.productId) : Json(nullptr);
            port["serial"] = bytesJson(p.serialNumber);
            port["description"] = bytesJson(p.description());
            port["driver"] = bytesJson(p.driver);
            list.push_back(std::move(port));
        }
        Json all;
        all["ports"] = std::move(list);
        printJsonLine(out, all);
    } else {
        for (const SerialPortFacts& p : ports) {
            out << p.device << "\t" << (p.byId.empty() ? "-" : p.byId.front()) << "\t"
                << (p.usb() ? p.vendorId + ":" + p.productId : "-") << "\t"
                << factOrDash(p.description()) << "\n";
        }
    }
    return unwritten(out, err).value_or(kExitOk);
}

// Every command name with its text, kind and group.
int listCommands(const Request& request, std::ostream& out, std::ostream& err) {
    if (request.json) {
        Json list = Json::array();
        for (const Command& c : commands()) {
            Json row;
            row["name"] = c.name;
            row["text"] = c.text;
            row["kind"] = word(c.kind);
            row["group"] = c.group;
            list.push_back(std::move(row));
        }
        printJsonLine(out, list);
    } else {
        for (const Command& c : commands()) {
            out << c.name << '\t' << c.text << '\t' << word(c.kind) << '\t' << c.group << "\n";
        }
    }
    return unwritten(out, err).value_or(kExitOk);
}

}  // namespace

Decoded decodeReply(const StatusQuery& query, std::string_view reply) {
    if (reply.empty()) {
        return {std::string(kNoReplyMark), std::nullopt, {}};
    }
    if (reply.size() > kRxBufferCap) {
        reply.remove_prefix(reply.size() - kRxBufferCap);
    }
    // The window's decoding, as it reads the answer taken in as one arrival into its
    // receive buffer after the query went out.
    StatusReading reading = readStatus(query, reply);
    return {echoText(reply), std::move(reading.readout), std::move(reading.value)};
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
        case Verb::Commands:
            return listCommands(*request, out, err);
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
