// SPDX-License-Identifier: Apache-2.0
#include "ctl/doctor.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <system_error>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "ctl/ctl.h"
#include "ctl/output.h"
#include "ctl/session.h"
#include "link/port_target.h"
#include "link/tcp_endpoint.h"
#include "posix/device_lock.h"

namespace pj::ctl {

namespace {

namespace fs = std::filesystem;

// The speeds tried, the panel's own first.
constexpr std::array<int, 2> kSpeeds{19200, 9600};

constexpr std::array<std::string_view, 4> kTryResultNames{"answer", "loopback", "silence",
                                                          "garbage"};
constexpr std::array<std::string_view, 5> kProblemNames{"", "missing", "no permission", "in use",
                                                        "cannot open"};

// What the rules below read off the findings.
struct Facts {
    bool missing = false;
    bool noPermission = false;
    bool inUse = false;
    bool cannotOpen = false;
    // The device's group may read and write it, and the user is neither its owner nor in
    // the group in this login: joining the group is the remedy.
    bool groupWouldHelp = false;
    bool notInGroup = false;       // not even in the group database
    bool groupNotYetLive = false;  // in the database, not in this login
    bool anyAnswer = false;
    bool severalAddresses = false;
    bool at9600Only = false;
    bool addressOnly = false;
    bool loopback = false;
    bool anyBytes = false;
};

struct Rule {
    bool (*applies)(const Facts&);
    int exitStatus;
    std::string_view verdict;  // {name}s stand for facts of the findings
    std::string_view next;
};

// Every rule that applies says its piece; the first one gives the exit status. The rules of
// one kind of finding exclude one another where they would contradict.
constexpr std::array<Rule, 13> kRules{{
    {[](const Facts& f) { return f.missing; }, kExitPortError, "{port} does not exist",
     "plug in the adapter, or name one of the serial ports of this machine: {available}"},
    {[](const Facts& f) { return f.noPermission && f.groupWouldHelp && f.notInGroup; },
     kExitPortError,
     "no permission to open {port}: it belongs to group {group}, and {user} is not in it",
     "sudo usermod -aG {group} {user}, then log in again"},
    {[](const Facts& f) { return f.noPermission && f.groupWouldHelp && f.groupNotYetLive; },
     kExitPortError,
     "no permission to open {port}: {user} is in group {group}, but this login began before",
     "log in again (or start a shell in the group: newgrp {group})"},
    {[](const Facts& f) { return f.noPermission && !f.groupWouldHelp; }, kExitPortError,
     "no permission to open {port} (mode {mode}, group {group})",
     "give the group read and write: sudo chmod g+rw {device}"},
    {[](const Facts& f) { return f.inUse; }, kExitPortError, "{port} is in use by {holders}",
     "end that program or let it close the port, then try again"},
    {[](const Facts& f) { return f.cannotOpen; }, kExitPortError, "{port} cannot be used: {reason}",
     "check that it is a serial port and that its adapter is plugged in"},
    {[](const Facts& f) { return f.severalAddresses; }, kExitOk,
     "projectors answer at addresses {addresses}; frames without an address collide",
     "send with an address (--address N, or the panel's address buttons)"},
    {[](const Facts& f) { return f.at9600Only; }, kExitOk, "answers at 9600 baud only",
     "choose 9600 (--baud 9600, or 9600 in the panel's port panel)"},
    {[](const Facts& f) { return f.addressOnly; }, kExitOk,
     "answers at address {addresses} only, not to frames without an address",
     "send with address {addresses} (--address {addresses})"},
    {[](const Facts& f) {
         return f.anyAnswer && !f.severalAddresses && !f.at9600Only && !f.addressOnly;
     },
     kExitOk, "a projector answers at {speeds} baud", "nothing to change"},
    {[](const Facts& f) { return !f.anyAnswer && f.loopback; }, kExitNoReply,
     "what was sent came back, and nothing else: a loopback plug, or a cable that joins its "
     "own send and receive lines",
     "take off the loopback plug, or use the projector's cable (straight or null-modem, as its "
     "manual says)"},
    {[](const Facts& f) { return !f.anyAnswer && !f.loopback && f.anyBytes; }, kExitNoReply,
     "bytes came back, but never a status reply: a speed other than 19200 and 9600, noise, or "
     "another device on the line",
     "check the projector's serial speed setting and that the cable goes to a projector"},
    {[](const Facts& f) {
         return !f.anyAnswer && !f.anyBytes && !f.missing && !f.noPermission && !f.inUse &&
                !f.cannotOpen;
     },
     kExitNoReply, "nothing answers at either speed or any address: silence",
     "check the cable (a null-modem cable where a straight one is needed, or the other way "
     "round), that the projector is powered, and that its serial control is on"},
}};

std::string joined(const std::vector<std::string>& items, std::string_view last) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += i + 1 == items.size() ? last : std::string_view(", ");
        }
        out += items[i];
    }
    return out;
}

std::string modeText(unsigned mode) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%04o", mode & 07777U);
    return text.data();
}

std::string substituted(std::string_view text, const std::map<std::string, std::string>& values) {
    std::string out;
    while (!text.empty()) {
        const std::size_t open = text.find('{');
        const std::size_t close = text.find('}', open);
        if (open == std::string_view::npos || close == std::string_view::npos) {
            out += text;
            break;
        }
        out += text.substr(0, open);
        const auto it = values.find(std::string(text.substr(open + 1, close - open - 1)));
        out += it != values.end() ? it->second : std::string(text.substr(open, close - open + 1));
        text.remove_prefix(close + 1);
    }
    return out;
}

// The numbered addresses that answered, at any speed, in order.
std::vector<std::string> answeringAddresses(const Findings& findings) {
    std::vector<std::string> numbers;
    for (const ProbeTry& t : findings.tries) {
        if (t.result == TryResult::Answer && t.address != "single" &&
            std::find(numbers.begin(), numbers.end(), t.address) == numbers.end()) {
            numbers.emplace_back(t.address);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::vector<std::string> answeringSpeeds(const Findings& findings) {
    std::vector<std::string> speeds;
    for (const int baud : kSpeeds) {
        if (std::any_of(findings.tries.begin(), findings.tries.end(), [&](const ProbeTry& t) {
                return t.baud == baud && t.result == TryResult::Answer;
            })) {
            speeds.push_back(std::to_string(baud));
        }
    }
    return speeds;
}

Facts factsOf(const Findings& findings) {
    Facts f;
    f.missing = findings.problem == PortProblem::Missing;
    f.noPermission = findings.problem == PortProblem::NoPermission;
    f.inUse = findings.problem == PortProblem::InUse;
    f.cannotOpen = findings.problem == PortProblem::CannotOpen;
    f.groupWouldHelp = (findings.mode & 060U) == 060U && !findings.owner && !findings.inGroupNow;
    f.notInGroup = !findings.inGroupListed && !findings.inGroupNow;
    f.groupNotYetLive = findings.inGroupListed && !findings.inGroupNow;
    const auto any = [&](auto&& what) {
        return std::any_of(findings.tries.begin(), findings.tries.end(), what);
    };
    f.anyAnswer = any([](const ProbeTry& t) { return t.result == TryResult::Answer; });
    f.loopback = any([](const ProbeTry& t) { return t.result == TryResult::Loopback; });
    f.anyBytes = any([](const ProbeTry& t) { return t.reply.has_value(); });
    const std::vector<std::string> addresses = answeringAddresses(findings);
    const std::vector<std::string> speeds = answeringSpeeds(findings);
    f.severalAddresses = addresses.size() >= 2;
    f.at9600Only = speeds == std::vector<std::string>{"9600"};
    f.addressOnly = addresses.size() == 1 && !any([](const ProbeTry& t) {
                        return t.result == TryResult::Answer && t.address == "single";
                    });
    return f;
}

// Who holds the port, as the verdict names them.
std::string whoHolds(const std::vector<Holder>& holders) {
    return holders.empty() ? "another program (not one this user may see in /proc)"
                           : posix::holdersText(holders);
}

std::string availableText(const std::vector<SerialPortFacts>& ports) {
    std::vector<std::string> names;
    for (const SerialPortFacts& p : ports) {
        names.push_back(p.byId.empty() ? p.device : p.byId.front());
    }
    return names.empty() ? std::string("none found") : joined(names, ", ");
}

bool memberOf(gid_t group, const std::string& user, gid_t primary) {
    if (primary == group) {
        return true;
    }
    const ::group* entry = ::getgrgid(group);
    for (char** member = entry != nullptr ? entry->gr_mem : nullptr;
         member != nullptr && *member != nullptr; ++member) {
        if (user == *member) {
            return true;
        }
    }
    return false;
}

// The device's group and mode, and the user's place in the group.
void readAccess(const struct stat& info, Findings& findings) {
    findings.mode = info.st_mode;
    findings.owner = info.st_uid == ::geteuid();
    const ::group* group = ::getgrgid(info.st_gid);
    findings.group = group != nullptr ? group->gr_name : std::to_string(info.st_gid);
    const ::passwd* user = ::getpwuid(::geteuid());
    findings.user = user != nullptr ? user->pw_name : std::to_string(::geteuid());
    findings.inGroupListed =
        memberOf(info.st_gid, findings.user, user != nullptr ? user->pw_gid : ::getegid());
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    findings.inGroupNow = ::getegid() == info.st_gid ||
                          std::find(groups.begin(), groups.end(), info.st_gid) != groups.end();
}

// Whether the device is there, may be opened, and is free; as the panel opens it, with its
// exclusive lock.
void examineDevice(Findings& findings) {
    struct stat info {};
    if (::stat(findings.port.c_str(), &info) != 0) {
        const int error = errno;
        findings.reason = std::strerror(error);
        findings.problem =
            error == ENOENT || error == ENOTDIR ? PortProblem::Missing : PortProblem::CannotOpen;
        if (findings.problem == PortProblem::Missing) {
            findings.available = scanSerialPorts();
        }
        return;
    }
    std::error_code ec;
    findings.device = fs::canonical(findings.port, ec).string();
    readAccess(info, findings);
    findings.facts = serialPortFacts(findings.device);

    // Taken as every program here takes it, and let go at once: a device another program
    // holds (its lock file, its flock, its exclusive mode) is left untouched.
    posix::DeviceLock lock;
    const std::string refused = lock.take(findings.port);
    const int error = refused.empty() ? 0 : lock.errorNumber();
    lock.release();
    if (error == 0) {
        return;
    }
    for (const posix::DeviceHolder& h : lock.holders()) {
        findings.holders.push_back({h.pid, h.name});
    }
    findings.reason = std::strerror(error);
    if (error == EACCES || error == EPERM) {
        findings.problem = PortProblem::NoPermission;
    } else if (error == EBUSY) {
        findings.problem = PortProblem::InUse;
        if (findings.holders.empty()) {
            findings.holders = deviceHolders(findings.device);
        }
    } else {
        findings.problem = PortProblem::CannotOpen;
    }
}

enum class TryEnd { Done, PortLost, Interrupted };

// One status query on a session of its own, as the panel would send it.
TryEnd tryOnce(const std::string& port, int baud, const AddressOption& address, ProbeTry& done,
               std::string& error) {
    Request request;
    request.verb = Verb::Query;
    request.port = port;
    request.baud = baud;
    request.address = &address;
    Session session;
    const std::optional<std::string> openError = session.open(request);
    if (session.interrupted()) {
        return TryEnd::Interrupted;
    }
    if (openError) {
        error = *openError;
        return TryEnd::PortLost;
    }
    const auto start = std::chrono::steady_clock::now();
    const Exchange exchange = session.query(*findQuery("status"));
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (session.interrupted()) {
        return TryEnd::Interrupted;
    }
    if (exchange.portError) {
        error = *exchange.portError;
        return TryEnd::PortLost;
    }
    done = {baud,
            address.name,
            exchange.frame,
            exchange.reply,
            exchange.replyBeyond,
            exchange.readout,
            classify(exchange.frame, exchange.reply, exchange.readout),
            took.count()};
    return TryEnd::Done;
}

// The status query at each speed and address. Gives false when a signal ended it.
bool probe(Findings& findings, const ExamineWatch& watch) {
    // A device server may turn away a connection that comes while it still holds the one
    // just closed, and a busy one takes a while to let it go: a network port is given more
    // chances, each after a longer pause.
    constexpr std::array kNetworkRetryPausesMs{100, 400, 1600};
    const std::size_t attempts = findings.network ? 1 + kNetworkRetryPausesMs.size() : 1;
    for (const int baud : kSpeeds) {
        for (const AddressOption& address : kAddressOptions) {
            if (address.name == "all") {
                continue;  // never answered
            }
            ProbeTry done;
            TryEnd end = TryEnd::PortLost;
            for (std::size_t attempt = 0; attempt < attempts && end == TryEnd::PortLost;
                 ++attempt) {
                if (attempt > 0) {
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(kNetworkRetryPausesMs[attempt - 1]));
                }
                end = tryOnce(findings.port, baud, address, done, findings.reason);
            }
            if (end == TryEnd::Interrupted) {
                return false;
            }
            if (end == TryEnd::PortLost) {
                findings.problem = PortProblem::CannotOpen;
                return true;
            }
            findings.reason.clear();
            findings.tries.push_back(std::move(done));
            if (watch.tried) {
                watch.tried(findings.tries.back());
            }
        }
        if (findings.network) {
            break;  // the device server sets the speed
        }
    }
    return true;
}

std::string milliseconds(double ms) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f ms", ms);
    return text.data();
}

// Received bytes as the report quotes them: control characters and bytes of 0x80 and up
// as \xNN (a carriage return as \r), so that a garbled reply stays readable and one line.
std::string replyText(std::string_view bytes, std::size_t beyond) {
    const std::size_t all = bytes.size() + beyond;
    bytes = bytes.substr(0, kReplyShown);
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x80) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02X", code);
            out += escaped.data();
        } else {
            out += visible(std::string_view(&c, 1));
        }
    }
    out += "\"";
    if (all > bytes.size()) {
        out += " ... " + std::to_string(all) + " bytes in all";
    }
    return out;
}

std::string fact(const std::string& text) {
    return text.empty() ? std::string("-") : text;
}

// The report's lines before the tries.
void printHead(std::ostream& out, const Findings& findings) {
    out << "Port:     " << findings.port;
    if (!findings.device.empty() && findings.device != findings.port) {
        out << " (" << findings.device << ")";
    }
    out << "\n";
    if (!findings.group.empty()) {
        out << "Access:   group " << findings.group << ", mode " << modeText(findings.mode) << "; "
            << findings.user << (findings.inGroupNow ? " is" : " is not")
            << " in the group in this login\n";
    }
    if (findings.facts) {
        const SerialPortFacts& p = *findings.facts;
        if (p.usb()) {
            out << "Adapter:  USB " << p.vendorId << ":" << p.productId << " "
                << fact(p.description()) << ", serial " << fact(p.serialNumber) << ", driver "
                << fact(p.driver) << "\n";
            for (const std::string& link : p.byId) {
                out << "          by-id " << link << "\n";
            }
            if (p.latencyTimerMs) {
                out << "          latency timer " << *p.latencyTimerMs << " ms\n";
            }
            if (const auto advice = latencyAdvice(p)) {
                out << *advice;
            }
        } else {
            out << "Adapter:  not a USB adapter" << (p.driver.empty() ? "" : ", driver ")
                << p.driver << "\n";
        }
    }
}

void printTry(std::ostream& out, const ProbeTry& t, bool first) {
    if (first) {
        out << "Tries:    the status query CR0 at each speed and address\n";
    }
    std::array<char, 64> head{};
    std::snprintf(head.data(), head.size(), "  %5d baud  %-6s  %-8s  %9s", t.baud,
                  std::string(t.address).c_str(), std::string(tryResultName(t.result)).c_str(),
                  t.reply ? milliseconds(t.ms).c_str() : "-");
    out << head.data();
    if (t.reply) {
        out << "  " << replyText(*t.reply, t.replyBeyond);
    }
    if (t.readout) {
        out << " " << *t.readout;
    }
    // On a terminal each try shows as it ends.
    out << std::endl;
}

// The report's lines after the tries.
void printTail(std::ostream& out, const Findings& findings, const Verdict& verdict) {
    if (!findings.tries.empty()) {
        std::vector<std::string> latencies;
        for (const ProbeTry& t : findings.tries) {
            if (t.result == TryResult::Answer) {
                latencies.push_back((t.address == "single" ? std::string("no address")
                                                           : "address " + std::string(t.address)) +
                                    " " + milliseconds(t.ms) + " at " + std::to_string(t.baud));
            }
        }
        if (!latencies.empty()) {
            out << "Latency:  " << joined(latencies, ", ") << "\n";
        }
    }
    out << "Verdict:  " << verdict.text << "\n";
    out << "Next:     " << verdict.next << "\n";
}

using Json = nlohmann::ordered_json;

// Bytes off the line: each byte the character of its code, as the line log's "ascii" has
// them, so that no byte is lost to text decoding.
Json lineBytes(std::string_view bytes) {
    std::string characters;
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            characters += c;
        } else {
            characters += static_cast<char>(0xC0 | (code >> 6));
            characters += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return characters;
}

template <class T>
Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

void printJson(std::ostream& out, const Findings& findings, const Verdict& verdict) {
    Json report{
        {"port", findings.port},
        {"device", findings.device},
        {"problem", findings.problem == PortProblem::None
                        ? Json(nullptr)
                        : Json(kProblemNames[static_cast<std::size_t>(findings.problem)])},
        {"reason", findings.reason},
    };
    if (!findings.group.empty()) {
        report["group"] = findings.group;
        report["mode"] = modeText(findings.mode);
        report["user"] = findings.user;
        report["in_group"] = findings.inGroupNow;
        report["in_group_listed"] = findings.inGroupListed;
    }
    Json holders = Json::array();
    for (const Holder& holder : findings.holders) {
        holders.push_back({{"pid", holder.pid}, {"name", holder.name}});
    }
    report["holders"] = std::move(holders);
    Json available = Json::array();
    for (const SerialPortFacts& port : findings.available) {
        available.push_back(port.device);
    }
    report["available"] = std::move(available);
    Json adapter = nullptr;
    if (findings.facts && findings.facts->usb()) {
        const SerialPortFacts& p = *findings.facts;
        adapter = {
            {"vid_pid", p.vendorId + ":" + p.productId},
            {"description", p.description()},
            {"serial", p.serialNumber},
            {"driver", p.driver},
            {"by_id", p.byId},
            {"latency_timer_ms", orNull(p.latencyTimerMs)},
            {"udev_rule", latencyAdvice(p) ? Json(kFtdiLatencyRule) : Json(nullptr)},
        };
    }
    report["adapter"] = std::move(adapter);
    Json tries = Json::array();
    for (const ProbeTry& t : findings.tries) {
        // Milliseconds to the microsecond.
        const double ms = std::round(t.ms * 1000) / 1000;
        tries.push_back({
            {"baud", t.baud},
            {"address", t.address},
            {"result", tryResultName(t.result)},
            {"frame", lineBytes(t.frame)},
            {"reply", t.reply ? lineBytes(*t.reply) : Json(nullptr)},
            {"reply_bytes", t.reply ? t.reply->size() + t.replyBeyond : 0},
            {"readout", orNull(t.readout)},
            {"ms", t.reply ? Json(ms) : Json(nullptr)},
        });
    }
    report["tries"] = std::move(tries);
    report["verdict"] = verdict.text;
    report["next"] = verdict.next;
    report["exit"] = verdict.exitStatus;
    // ASCII only, as a script's terminal may want it; a name that is not UTF-8 is mended
    // rather than refused.
    out << report.dump(-1, ' ', true, Json::error_handler_t::replace) << "\n";
}

}  // namespace

std::string_view tryResultName(TryResult result) {
    return kTryResultNames[static_cast<std::size_t>(result)];
}

TryResult classify(std::string_view frame, const std::optional<std::string>& reply,
                   const std::optional<std::string>& readout) {
    if (!reply || reply->empty()) {
        return TryResult::Silence;
    }
    if (readout) {
        return TryResult::Answer;
    }
    // The frame itself, perhaps with more behind it (a plug echoes all it is sent).
    if (!frame.empty() && reply->rfind(frame, 0) == 0) {
        return TryResult::Loopback;
    }
    return TryResult::Garbage;
}

Verdict judge(const Findings& findings) {
    const Facts facts = factsOf(findings);
    const std::map<std::string, std::string> values{
        {"port", findings.port},
        {"device", findings.device.empty() ? findings.port : findings.device},
        {"reason", findings.reason},
        {"group", findings.group},
        {"user", findings.user},
        {"mode", modeText(findings.mode)},
        {"holders", whoHolds(findings.holders)},
        {"available", availableText(findings.available)},
        {"addresses", joined(answeringAddresses(findings), " and ")},
        {"speeds", joined(answeringSpeeds(findings), " and ")},
    };
    Verdict verdict;
    bool first = true;
    for (const Rule& rule : kRules) {
        if (!rule.applies(facts)) {
            continue;
        }
        if (first) {
            verdict.exitStatus = rule.exitStatus;
        } else {
            verdict.text += "; ";
            verdict.next += "; ";
        }
        first = false;
        verdict.text += substituted(rule.verdict, values);
        verdict.next += substituted(rule.next, values);
    }
    return verdict;
}

std::optional<std::string> latencyAdvice(const SerialPortFacts& facts) {
    if (facts.driver != "ftdi_sio" || !facts.latencyTimerMs || *facts.latencyTimerMs <= 1) {
        return std::nullopt;
    }
    const std::string name = fs::path(facts.device).filename().string();
    return "          the adapter holds back each reply up to " +
           std::to_string(*facts.latencyTimerMs) +
           " ms; set the timer to 1 ms now:\n"
           "            echo 1 | sudo tee /sys/bus/usb-serial/devices/" +
           name +
           "/latency_timer\n"
           "          and for good, with this line in /etc/udev/rules.d/99-ftdi-latency.rules:\n"
           "            " +
           kFtdiLatencyRule + "\n";
}

std::optional<Findings> examinePort(const std::string& port, const ExamineWatch& watch) {
    Findings findings;
    findings.port = port;
    // A device server's or a line server's port: reached by its name, the device behind it
    // and its speed none of this machine's business.
    struct stat info {};
    findings.network = isTcpDevice(port) || isLocalSocketName(port) ||
                       (::stat(port.c_str(), &info) == 0 && S_ISSOCK(info.st_mode));
    if (findings.network) {
        findings.device = port;
    } else {
        examineDevice(findings);
    }
    if (watch.examined) {
        watch.examined(findings);
    }
    if (findings.problem == PortProblem::None && !probe(findings, watch)) {
        return std::nullopt;
    }
    return findings;
}

int doctor(const Request& request, std::ostream& out, std::ostream& err) {
    // The text report is written as the findings come, each try as it ends; JSON at the end.
    ExamineWatch watch;
    if (!request.json) {
        watch.examined = [&out](const Findings& f) { printHead(out, f); };
        watch.tried = [&out, first = true](const ProbeTry& t) mutable {
            printTry(out, t, std::exchange(first, false));
        };
    }
    const std::optional<Findings> findings =
        examinePort(request.port.empty() ? defaultPortDevices()[0] : request.port, watch);
    if (!findings) {
        return complain(err, kExitFailure, "interrupted");
    }
    const Verdict verdict = judge(*findings);
    if (request.json) {
        printJson(out, *findings, verdict);
    } else {
        printTail(out, *findings, verdict);
    }
    return unwritten(out, err).value_or(verdict.exitStatus);
}

}  // namespace pj::ctl
