// SPDX-License-Identifier: Apache-2.0
#include "line/pjlink.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "projector/commands.h"
#include "status/queries.h"
#include "status/values.h"

namespace pj::line::pjlink {

// ---- MD5 (RFC 1321) -----------------------------------------------------------------------

namespace {

constexpr std::array<std::uint32_t, 64> kSine{
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr std::array<int, 16> kShift{7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

std::uint32_t rotate(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void md5Block(std::array<std::uint32_t, 4>& h, const unsigned char* block) {
    std::array<std::uint32_t, 16> m{};
    for (std::size_t i = 0; i < 16; ++i) {
        m[i] = static_cast<std::uint32_t>(block[i * 4]) |
               static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
               static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (std::size_t i = 0; i < 64; ++i) {
        std::uint32_t f = 0;
        std::size_t g = 0;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        const std::uint32_t next = d;
        d = c;
        c = b;
        b = b + rotate(a + f + kSine[i] + m[g], kShift[(i / 16) * 4 + i % 4]);
        a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

}  // namespace

std::string md5Hex(std::string_view data) {
    std::array<std::uint32_t, 4> h{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::string padded(data);
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    padded += '\x80';
    while (padded.size() % 64 != 56) {
        padded += '\0';
    }
    for (int i = 0; i < 8; ++i) {
        padded += static_cast<char>((bits >> (8 * i)) & 0xff);
    }
    for (std::size_t at = 0; at < padded.size(); at += 64) {
        md5Block(h, reinterpret_cast<const unsigned char*>(padded.data() + at));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const std::uint32_t word : h) {
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<unsigned>((word >> (8 * i)) & 0xff);
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        }
    }
    return out;
}

// ---- The line -----------------------------------------------------------------------------

std::variant<Request, Rejected> parseLine(std::string_view line, bool tooLong) {
    using Why = Rejected::Why;
    const auto bodyChar = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    if (line.size() < 6 || line[0] != '%' || line[1] < '1' || line[1] > '9' ||
        !std::all_of(line.begin() + 2, line.begin() + 6, bodyChar)) {
        return Rejected{Why::Malformed, {}};
    }
    std::string header(line.substr(0, 6));
    if (tooLong) {
        return Rejected{Why::TooLong, std::move(header)};
    }
    if (line[1] != '1' && line[1] != '2') {
        return Rejected{Why::UnknownCommand, std::move(header)};
    }
    if (line.size() < 8 || line[6] != ' ') {
        return Rejected{Why::BadParameter, std::move(header)};
    }
    const std::string_view parameter = line.substr(7);
    if (!std::all_of(parameter.begin(), parameter.end(),
                     [](char c) { return c >= ' ' && c < 127; })) {
        return Rejected{Why::BadParameter, std::move(header)};
    }
    return Request{line[1], std::string(line.substr(2, 4)), std::string(parameter)};
}

std::string answerLine(std::string_view header, std::string_view result) {
    return std::string(header) + "=" + std::string(result) + "\r";
}

// ---- The one table ------------------------------------------------------------------------

namespace {

using OS = OperatingState;
constexpr std::string_view kOperating = "status.operating";

// ERST ?'s six digits (fan, lamp, temperature, cover, filter, other) for each operating state.
// clang-format off
constexpr std::array<std::pair<OS, std::string_view>, 13> kErrorStatus{{
    {OS::On,                                "000000"},
    {OS::Standby,                           "000000"},
    {OS::Warming,                           "000000"},
    {OS::Cooling,                           "000000"},
    {OS::PowerFailure,                      "000002"},
    {OS::TemperatureWarning,                "001000"},
    {OS::NoKeyInput,                        "000000"},
    {OS::PowerManagementLampOff,            "000000"},
    {OS::TemperatureWarningCooling,         "002000"},
    {OS::PowerManagementTemperatureWarning, "001000"},
    {OS::TemperatureWarningRecovered,       "000000"},
    {OS::LampFailureCooling,                "020000"},
    {OS::LampFailureStandby,                "020000"},
}};
// clang-format on

// What a query row answers from its status queries' replies (in the row's order).
struct Context {
    const Identity& identity;
    const std::array<int, 3>& inputType;
};
using Answerer = Result (*)(const Context&, std::span<const std::string> replies);

template <class T>
std::optional<T> valueOf(std::string_view queryName, std::string_view reply) {
    const StatusQuery* query = findStatusQuery(queryName);
    const StatusValue value = query->value(reply);
    if (const T* v = std::get_if<T>(&value)) {
        return *v;
    }
    return std::nullopt;
}

// The reply's text without its carriage return, printable characters only, at most `most`.
std::string replyText(std::string_view reply, std::size_t most) {
    std::string out;
    for (const char c : reply.substr(0, reply.find('\r'))) {
        if (c >= ' ' && c < 127 && out.size() < most) {
            out += c;
        }
    }
    return out;
}

Result power(const Context&, std::span<const std::string> replies);
Result input(const Context&, std::span<const std::string> replies);
Result mutes(const Context&, std::span<const std::string> replies);
Result errors(const Context&, std::span<const std::string> replies);
Result lamp(const Context&, std::span<const std::string> replies);
Result inputs(const Context&, std::span<const std::string>) {
    return inputList();
}
Result name(const Context& c, std::span<const std::string>) {
    return c.identity.name.substr(0, 64);
}
Result maker(const Context&, std::span<const std::string>) {
    return "pjline";
}
Result model(const Context&, std::span<const std::string> replies) {
    return replyText(replies[0], 32);
}
Result info(const Context& c, std::span<const std::string>) {
    return c.identity.info.substr(0, 32);
}
Result classOne(const Context&, std::span<const std::string>) {
    return "1";
}
// The projector does not tell whether its picture is frozen: unavailable, once it answered.
Result freeze(const Context&, std::span<const std::string> replies) {
    return valueOf<OperatingState>(kOperating, replies[0]) ? "ERR3" : "ERR4";
}

}  // namespace

// One PJLink command and parameter: a setting sends `named` (after asking the operating state
// when `refusedOnTheWay`: the projector does not take it while warming or cooling); a query
// asks `queries` in turn and answers with `answer`. `input` is the input an INPT code selects;
// its first digit is the PJLink type (1 RGB, 2 VIDEO, 3 DIGITAL). `cls` is the PJLink class
// the command is asked in.
struct Face::Row {
    std::string_view command;
    std::string_view parameter;
    std::string_view named;
    bool refusedOnTheWay;
    int input;
    std::array<std::string_view, 2> queries;
    Answerer answer;
    char cls = '1';
};

namespace {

using Row = Face::Row;

// clang-format off
constexpr auto kTable = std::to_array<Row>({
    {"POWR", "1",  "power.on",          true,  0, {}, nullptr},
    {"POWR", "0",  "power.off",         true,  0, {}, nullptr},
    {"POWR", "?",  {},                  false, 0, {kOperating}, power},
    {"INPT", "11", "input.1.rgb",       true,  1, {}, nullptr},
    {"INPT", "12", "input.2.rgb",       true,  2, {}, nullptr},
    {"INPT", "13", "input.3.rgb",       true,  3, {}, nullptr},
    {"INPT", "14", "input.1.ypbpr",     true,  1, {}, nullptr},
    {"INPT", "15", "input.2.ypbpr",     true,  2, {}, nullptr},
    {"INPT", "16", "input.3.ypbpr",     true,  3, {}, nullptr},
    {"INPT", "17", "input.1.ycbcr",     true,  1, {}, nullptr},
    {"INPT", "18", "input.2.ycbcr",     true,  2, {}, nullptr},
    {"INPT", "19", "input.3.ycbcr",     true,  3, {}, nullptr},
    {"INPT", "21", "input.1.video",     true,  1, {}, nullptr},
    {"INPT", "22", "input.2.video",     true,  2, {}, nullptr},
    {"INPT", "23", "input.3.video",     true,  3, {}, nullptr},
    {"INPT", "24", "input.1.s-video",   true,  1, {}, nullptr},
    {"INPT", "25", "input.2.s-video",   true,  2, {}, nullptr},
    {"INPT", "26", "input.3.s-video",   true,  3, {}, nullptr},
    {"INPT", "31", "input.1.dvi",       true,  1, {}, nullptr},
    {"INPT", "32", "input.2.dvi",       true,  2, {}, nullptr},
    {"INPT", "33", "input.3.dvi",       true,  3, {}, nullptr},
    {"INPT", "?",  {},                  false, 0, {"status.input"}, input},
    {"AVMT", "10", "shutter.open",      false, 0, {}, nullptr},
    {"AVMT", "11", "shutter.close",     false, 0, {}, nullptr},
    {"AVMT", "?",  {},                  false, 0, {"status.mute"}, mutes},
    {"ERST", "?",  {},                  false, 0, {kOperating}, errors},
    {"LAMP", "?",  {},                  false, 0, {"status.lamp-hours", "status.lamp-mode"}, lamp},
    {"INST", "?",  {},                  false, 0, {}, inputs},
    {"NAME", "?",  {},                  false, 0, {}, name},
    {"INF1", "?",  {},                  false, 0, {}, maker},
    {"INF2", "?",  {},                  false, 0, {"status.raw"}, model},
    {"INFO", "?",  {},                  false, 0, {}, info},
    {"CLSS", "?",  {},                  false, 0, {}, classOne},
    {"FREZ", "1",  "freeze.on",         false, 0, {}, nullptr, '2'},
    {"FREZ", "0",  "freeze.off",        false, 0, {}, nullptr, '2'},
    {"FREZ", "?",  {},                  false, 0, {kOperating}, freeze, '2'},
});
// clang-format on

// The row of the code an input answers INPT ? with: the type chosen for it, else its first.
const Row* inputRow(int number, int rowIndex) {
    int seen = 0;
    for (const Row& row : kTable) {
        if (row.command == "INPT" && row.input == number && seen++ == rowIndex) {
            return &row;
        }
    }
    return nullptr;
}

Result power(const Context&, std::span<const std::string> replies) {
    const auto state = valueOf<OperatingState>(kOperating, replies[0]);
    if (!state) {
        return "ERR4";
    }
    switch (powerOf(*state)) {
        case Power::Off:
            return "0";
        case Power::On:
            return "1";
        case Power::Cooling:
            return "2";
        case Power::Warming:
            return "3";
        case Power::Fault:
            break;
    }
    return "ERR4";
}

Result input(const Context& c, std::span<const std::string> replies) {
    const auto mode = valueOf<InputMode>("status.input", replies[0]);
    if (!mode) {
        return "ERR4";
    }
    // Inputs 4 and 5 have no PJLink code.
    const Row* row = mode->number >= 1 && mode->number <= 3
                         ? inputRow(mode->number, c.inputType[mode->number - 1])
                         : nullptr;
    return row != nullptr ? std::string(row->parameter) : "ERR3";
}

Result mutes(const Context&, std::span<const std::string> replies) {
    const auto m = valueOf<MuteAndSignal>("status.mute", replies[0]);
    if (!m) {
        return "ERR4";
    }
    if (!m->video || !m->audio) {
        return "ERR3";  // in standby or without a signal, the projector does not tell
    }
    return *m->video && *m->audio ? "31" : *m->video ? "11" : *m->audio ? "21" : "30";
}

Result errors(const Context&, std::span<const std::string> replies) {
    const auto state = valueOf<OperatingState>(kOperating, replies[0]);
    if (!state) {
        return "ERR4";
    }
    for (const auto& [from, digits] : kErrorStatus) {
        if (from == *state) {
            return std::string(digits);
        }
    }
    return "ERR4";
}

Result lamp(const Context&, std::span<const std::string> replies) {
    const auto hours = valueOf<LampHours>("status.lamp-hours", replies[0]);
    const auto lamps = valueOf<Lamps>("status.lamp-mode", replies[1]);
    if (!hours || !lamps) {
        return "ERR4";
    }
    return std::to_string(hours->hours) + ((lamps->lit[0] || lamps->lit[1]) ? " 1" : " 0");
}

int windowOf(std::string_view name) {
    const Command* command = findCommand(name);
    return command != nullptr ? command->replyWindowMs : 2000;
}

std::string_view textOf(std::string_view name) {
    if (const Command* command = findCommand(name)) {
        return command->text;
    }
    return findStatusQuery(name)->command;
}

}  // namespace

std::string inputList() {
    std::string out;
    for (const Row& row : kTable) {
        if (row.command == "INPT" && row.input != 0) {
            out += (out.empty() ? "" : " ") + std::string(row.parameter);
        }
    }
    return out;
}

Face::Face(Identity identity, Ask ask)
    : identity_(std::move(identity)), ask_(std::move(ask)), alive_(std::make_shared<bool>(true)) {}

Face::~Face() {
    *alive_ = false;
}

void Face::carryOut(const Request& request, std::function<void(Result)> done) {
    bool known = false;
    for (const Row& row : kTable) {
        if (row.command != request.command || row.cls != request.cls) {
            continue;
        }
        known = true;
        if (row.parameter == request.parameter) {
            if (row.answer != nullptr) {
                query(row, 0, {}, std::move(done));
            } else {
                send(row, std::move(done));
            }
            return;
        }
    }
    done(known ? "ERR2" : "ERR1");
}

void Face::send(const Row& row, std::function<void(Result)> done) {
    const auto sendNamed = [this, &row, alive = alive_](std::function<void(Result)> finished) {
        ask_(textOf(row.named), windowOf(row.named),
             [this, &row, alive, finished](const std::optional<std::string>& answer) {
                 if (!*alive) {
                     return;
                 }
                 if (!answer) {
                     finished("ERR4");
                     return;
                 }
                 if (answer->find('\x06') == std::string::npos) {
                     finished("ERR3");  // the projector answered it is not taken
                     return;
                 }
                 if (row.input != 0) {
                     // Which of the input's rows was chosen, for INPT ?.
                     int index = 0;
                     for (const Row& r : kTable) {
                         if (&r == &row) {
                             break;
                         }
                         index += r.command == "INPT" && r.input == row.input ? 1 : 0;
                     }
                     inputType_[static_cast<std::size_t>(row.input - 1)] = index;
                 }
                 finished("OK");
             });
    };
    if (!row.refusedOnTheWay) {
        sendNamed(std::move(done));
        return;
    }
    ask_(textOf(kOperating), windowOf(kOperating),
         [sendNamed, done, alive = alive_](const std::optional<std::string>& answer) {
             if (!*alive) {
                 return;
             }
             const auto state = answer ? valueOf<OperatingState>(kOperating, *answer)
                                       : std::optional<OperatingState>{};
             if (!state) {
                 done("ERR4");
                 return;
             }
             const Power p = powerOf(*state);
             if (p == Power::Warming || p == Power::Cooling) {
                 done("ERR3");
                 return;
             }
             sendNamed(done);
         });
}

void Face::query(const Row& row, std::size_t step, std::vector<std::string> replies,
                 std::function<void(Result)> done) {
    if (step == row.queries.size() || row.queries[step].empty()) {
        done(row.answer(Context{identity_, inputType_}, replies));
        return;
    }
    const std::string_view name = row.queries[step];
    ask_(textOf(name), windowOf(name),
         [this, &row, step, replies = std::move(replies), done = std::move(done),
          alive = alive_](const std::optional<std::string>& answer) mutable {
             if (!*alive) {
                 return;
             }
             if (!answer) {
                 done("ERR4");
                 return;
             }
             replies.push_back(*answer);
             query(row, step + 1, std::move(replies), std::move(done));
         });
}

// ---- Search ---------------------------------------------------------------------------------

bool isSearch(std::string_view datagram) {
    constexpr std::string_view kSearch = "%2SRCH";
    if (!datagram.starts_with(kSearch)) {
        return false;
    }
    const std::string_view end = datagram.substr(kSearch.size());
    return end == "\r" || end == "\n" || end == "\r\n";
}

std::string searchAnswer(std::string_view mac) {
    return "%2ACKN=" + std::string(mac) + "\r";
}

std::string endpointMac(std::string_view lineName, int address) {
    const std::string digest = md5Hex(std::string(lineName) + "/" + std::to_string(address));
    // The first octet's low bits: unicast (bit 0 clear), locally administered (bit 1 set).
    std::string mac = "02";
    for (std::size_t i = 2; i < 12; i += 2) {
        mac += ":" + digest.substr(i, 2);
    }
    return mac;
}

// ---- One connection -----------------------------------------------------------------------

Session::Session(Settings settings, std::int64_t nowMs, Write write, CarryOut carryOut, Log log,
                 Close close)
    : settings_(std::move(settings)),
      write_(std::move(write)),
      carryOut_(std::move(carryOut)),
      log_(std::move(log)),
      close_(std::move(close)),
      lastMs_(nowMs),
      authenticated_(!settings_.password),
      alive_(std::make_shared<bool>(true)) {}

Session::~Session() {
    *alive_ = false;
}

void Session::open() {
    write_(settings_.password ? "PJLINK 1 " + settings_.random + "\r" : std::string("PJLINK 0\r"));
}

void Session::take(std::string_view bytes, std::int64_t nowMs) {
    lastMs_ = nowMs;
    // The digest in front of the first command does not count against the line's length.
    for (const char c : bytes) {
        if (closed_) {
            return;
        }
        // A line feed ends a line too (a hand typing into nc), but not right after a carriage
        // return: a tool that ends its lines with both sends one line each time.
        const bool afterCr = std::exchange(afterCr_, c == '\r');
        if (c == '\r' || (c == '\n' && !afterCr)) {
            line(partial_, std::exchange(overlong_, false));
            partial_.clear();
        } else if (c == '\n') {
            continue;
        } else if (partial_.size() + 1 < kLongestLine + (authenticated_ ? 0 : 32)) {
            partial_ += c;
        } else {
            overlong_ = true;
        }
    }
}

bool Session::idleCheck(std::int64_t nowMs) {
    if (closed_) {
        return false;
    }
    if (busy_ || !waiting_.empty()) {
        lastMs_ = nowMs;
        return false;
    }
    if (nowMs - lastMs_ < kIdleMs) {
        return false;
    }
    closed_ = true;
    close_("idle for " + std::to_string(kIdleMs / 1000) + " s");
    return true;
}

void Session::line(std::string_view text, bool tooLong) {
    if (!authenticated_) {
        const std::string digest = md5Hex(settings_.random + *settings_.password);
        if (text.size() < digest.size() || text.substr(0, digest.size()) != digest) {
            write_("PJLINK ERRA\r");
            closed_ = true;
            close_("authentication failed");
            return;
        }
        authenticated_ = true;
        text.remove_prefix(digest.size());
    }
    auto parsed = parseLine(text, tooLong);
    if (auto* request = std::get_if<Request>(&parsed)) {
        waiting_.push_back({std::string(text.substr(0, 6)), std::move(*request), {}});
    } else {
        const Rejected& rejected = std::get<Rejected>(parsed);
        if (rejected.header.empty()) {
            log_("a line that is no command, not answered: " + std::to_string(text.size() + 1) +
                 " bytes");
            return;
        }
        using Why = Rejected::Why;
        const Result result = rejected.why == Why::UnknownCommand ? "ERR1" : "ERR2";
        log_(rejected.header + (rejected.why == Why::TooLong ? " (over-long)" : "") + ": " +
             result);
        waiting_.push_back({rejected.header, std::nullopt, result});
    }
    if (waiting_.size() > kMostWaiting) {
        closed_ = true;
        close_("it sent more than " + std::to_string(kMostWaiting) +
               " lines without reading their answers");
        return;
    }
    pump();
}

void Session::pump() {
    while (!busy_ && !waiting_.empty() && !closed_) {
        Waiting& front = waiting_.front();
        if (!front.request) {
            write_(answerLine(front.header, front.result));
            waiting_.pop_front();
            continue;
        }
        busy_ = true;
        const Request request = *front.request;
        carryOut_(request, [this, request, alive = alive_](Result result) {
            if (!*alive || closed_) {
                return;
            }
            const std::string header = "%" + std::string(1, request.cls) + request.command;
            log_(header + " " + request.parameter + ": " + result);
            write_(answerLine(header, result));
            waiting_.pop_front();
            busy_ = false;
            pump();
        });
    }
}

}  // namespace pj::line::pjlink
