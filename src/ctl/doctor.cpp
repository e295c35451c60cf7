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
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <system_error>

#include "ctl/ctl.h"
#include "ctl/output.h"
#include "ctl/session.h"
#include "link/port_target.h"
#include "link/tcp_endpoint.h"

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

std::string holdersText(const std::vector<Holder>& holders) {
    if (holders.empty()) {
        return "another program (not one this user may see in /proc)";
    }
    std::vector<std::string> named;
    for (const Holder& h : holders) {
        named.push_back("pid " + std::to_string(h.pid) + " (" + h.name + ")");
    }
    return joined(named, " and ");
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

    const int fd = ::open(findings.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? EBUSY : errno;
        }
        ::close(fd);
    }
    if (error == 0) {
        return;
    }
    findings.reason = std::strerror(error);
    if (error == EACCES || error == EPERM) {
        findings.problem = PortProblem::NoPermission;
    } else if (error == EBUSY) {
        findings.problem = PortProblem::InUse;
        findings.holders = deviceHolders(findings.device);
    } else {
        findings.problem = PortProblem::CannotOpen;
    }
}

enum class TryEnd { Done, PortLost, Interrupted };

// One status query on a session of its own, as the panel would send it.
TryEnd tryOnce(const std::string& port, int baud, const AddressChoice& address, ProbeTry& done,
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
            exchange.readout,
            classify(exchange.frame, exchange.reply, exchange.readout),
            took.count()};
    return TryEnd::Done;
}

// The status query at each speed and address. Gives false when a signal ended it.
bool probe(Findings& findings) {
    // A device server may turn away a connection that comes while it still holds the one
    // just closed: a network port is given another chance or two.
    const int attempts = findings.network ? 3 : 1;
    for (const int baud : kSpeeds) {
        for (const AddressChoice& address : kAddressChoices) {
            if (address.name == "all") {
                continue;  // never answered
            }
            ProbeTry done;
            TryEnd end = TryEnd::PortLost;
            for (int attempt = 0; attempt < attempts && end == TryEnd::PortLost; ++attempt) {
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
std::string replyText(std::string_view bytes) {
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
    return out + "\"";
}

std::string fact(const std::string& text) {
    return text.empty() ? std::string("-") : text;
}

void printText(std::ostream& out, const Findings& findings, const Verdict& verdict) {
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
    if (!findings.tries.empty()) {
        out << "Tries:    the status query CR0 at each speed and address\n";
        for (const ProbeTry& t : findings.tries) {
            std::array<char, 64> head{};
            std::snprintf(head.data(), head.size(), "  %5d baud  %-6s  %-8s  %9s", t.baud,
                          std::string(t.address).c_str(),
                          std::string(tryResultName(t.result)).c_str(),
                          t.reply ? milliseconds(t.ms).c_str() : "-");
            out << head.data();
            if (t.reply) {
                out << "  " << replyText(*t.reply);
            }
            if (t.readout) {
                out << " " << *t.readout;
            }
            out << "\n";
        }
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

void printJson(std::ostream& out, const Findings& findings, const Verdict& verdict) {
    out << "{\"port\":" << jsonString(findings.port)
        << ",\"device\":" << jsonString(findings.device) << ",\"problem\":"
        << (findings.problem == PortProblem::None
                ? std::string("null")
                : jsonString(kProblemNames[static_cast<std::size_t>(findings.problem)]))
        << ",\"reason\":" << jsonString(findings.reason);
    if (!findings.group.empty()) {
        out << ",\"group\":" << jsonString(findings.group)
            << ",\"mode\":" << jsonString(modeText(findings.mode))
            << ",\"user\":" << jsonString(findings.user)
            << ",\"in_group\":" << (findings.inGroupNow ? "true" : "false")
            << ",\"in_group_listed\":" << (findings.inGroupListed ? "true" : "false");
    }
    out << ",\"holders\":[";
    for (std::size_t i = 0; i < findings.holders.size(); ++i) {
        out << (i > 0 ? "," : "") << "{\"pid\":" << findings.holders[i].pid
            << ",\"name\":" << jsonString(findings.holders[i].name) << "}";
    }
    out << "],\"available\":[";
    for (std::size_t i = 0; i < findings.available.size(); ++i) {
        out << (i > 0 ? "," : "") << jsonString(findings.available[i].device);
    }
    out << "],\"adapter\":";
    if (findings.facts && findings.facts->usb()) {
        const SerialPortFacts& p = *findings.facts;
        out << "{\"vid_pid\":" << jsonString(p.vendorId + ":" + p.productId)
            << ",\"description\":" << jsonString(p.description())
            << ",\"serial\":" << jsonString(p.serialNumber)
            << ",\"driver\":" << jsonString(p.driver) << ",\"by_id\":[";
        for (std::size_t i = 0; i < p.byId.size(); ++i) {
            out << (i > 0 ? "," : "") << jsonString(p.byId[i]);
        }
        out << "],\"latency_timer_ms\":"
            << (p.latencyTimerMs ? std::to_string(*p.latencyTimerMs) : std::string("null"))
            << ",\"udev_rule\":"
            << (latencyAdvice(p) ? jsonString(kFtdiLatencyRule) : std::string("null")) << "}";
    } else {
        out << "null";
    }
    out << ",\"tries\":[";
    for (std::size_t i = 0; i < findings.tries.size(); ++i) {
        const ProbeTry& t = findings.tries[i];
        std::array<char, 32> ms{};
        std::snprintf(ms.data(), ms.size(), "%.3f", t.ms);
        out << (i > 0 ? "," : "") << "{\"baud\":" << t.baud
            << ",\"address\":" << jsonString(t.address)
            << ",\"result\":" << jsonString(tryResultName(t.result))
            << ",\"frame\":" << jsonString(t.frame) << ",\"reply\":" << jsonOptional(t.reply)
            << ",\"readout\":" << jsonOptional(t.readout)
            << ",\"ms\":" << (t.reply ? std::string(ms.data()) : std::string("null")) << "}";
    }
    out << "],\"verdict\":" << jsonString(verdict.text) << ",\"next\":" << jsonString(verdict.next)
        << ",\"exit\":" << verdict.exitStatus << "}\n";
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
        {"holders", holdersText(findings.holders)},
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

std::vector<Holder> deviceHolders(const std::string& device) {
    std::vector<Holder> holders;
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) {
        return holders;
    }
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code unreadable;  // another user's process, or one that just ended
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
            struct stat info {};
            if (::stat(fd.path().c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
                info.st_rdev == target.st_rdev) {
                std::ifstream comm(process.path() / "comm");
                Holder holder{std::stoi(pid), {}};
                std::getline(comm, holder.name);
                holders.push_back(std::move(holder));
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
    return holders;
}

std::optional<Findings> examinePort(const std::string& port) {
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
    if (findings.problem == PortProblem::None && !probe(findings)) {
        return std::nullopt;
    }
    return findings;
}

int doctor(const Request& request, std::ostream& out, std::ostream& err) {
    const std::optional<Findings> findings =
        examinePort(request.port.empty() ? defaultPortDevices()[0] : request.port);
    if (!findings) {
        return complain(err, kExitFailure, "interrupted");
    }
    const Verdict verdict = judge(*findings);
    if (request.json) {
        printJson(out, *findings, verdict);
    } else {
        printText(out, *findings, verdict);
    }
    return unwritten(out, err).value_or(verdict.exitStatus);
}

}  // namespace pj::ctl
