// SPDX-License-Identifier: Apache-2.0
#pragma once

// pjline's PJLink face, without I/O: the line format, authentication, the idle close and what
// each PJLink command becomes on the projector's line. The server (pjlink_server.h) gives it
// sockets, the clock and the line's queue.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pj::line::pjlink {

inline constexpr std::uint16_t kDefaultPort = 4352;
// The longest line, its carriage return included.
inline constexpr std::size_t kLongestLine = 136;
// A connection that has sent nothing for this long, with nothing of its own under way, is
// closed.
inline constexpr std::int64_t kIdleMs = 30'000;
// Lines of one connection waiting for their answers, at most; more close the connection.
inline constexpr std::size_t kMostWaiting = 16;

// The MD5 digest of `data` in 32 lower-case hex digits.
std::string md5Hex(std::string_view data);

// One command line: "%" + its class + the command's four characters + " " + the parameter.
struct Request {
    char cls = '1';
    std::string command;
    std::string parameter;
    bool operator==(const Request&) const = default;
};

// Why a line is no command. `header` is "%1POWR" when the line has one, for the answer.
struct Rejected {
    enum class Why { Malformed, TooLong, UnknownCommand, BadParameter } why;
    std::string header;
    bool operator==(const Rejected&) const = default;
};

// Reads one line, without its carriage return; `tooLong` when the line passed kLongestLine
// (then `line` holds its start). Class 1 and class 2 lines are read; the table says which
// commands of each are taken.
std::variant<Request, Rejected> parseLine(std::string_view line, bool tooLong = false);

// The answer line for `request`: "%1POWR=OK\r".
std::string answerLine(std::string_view header, std::string_view result);

// ---- What the commands become ------------------------------------------------------------

// A PJLink result: "OK", "ERR1" to "ERR4", or the data of a query's answer.
using Result = std::string;

// How the face reaches its projector: sends the command text (without the address, which
// the server adds) through the line's queue and hands back the projector's answer, or
// nothing when none came within `windowMs`.
using Ask = std::function<void(std::string_view commandText, int windowMs,
                               std::function<void(const std::optional<std::string>&)> answer)>;

struct Identity {
    std::string name;  // NAME ?
    std::string info;  // INFO ?
};

// One projector's PJLink side. Each command runs through the one table (pjlink.cpp): a
// setting sends its named command, after asking the operating state when the projector
// refuses it while warming or cooling; a query asks its status query and answers from the
// typed value.
class Face {
  public:
    Face(Identity identity, Ask ask);
    ~Face();
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    void carryOut(const Request& request, std::function<void(Result)> done);

    struct Row;  // one row of the table

  private:
    void send(const Row& row, std::function<void(Result)> done);
    void query(const Row& row, std::size_t step, std::vector<std::string> replies,
               std::function<void(Result)> done);

    Identity identity_;
    Ask ask_;
    // For each input, which of its codes was last chosen through PJLink: the projector tells
    // its input but not the signal type, so INPT ? answers with this one (the input's first
    // code until one is chosen).
    std::array<int, 3> inputType_{};
    std::shared_ptr<bool> alive_;
};

// The PJLink codes the face takes, for INST ? and the README: "11 12 13 ...".
std::string inputList();

// ---- Search (class 2, over UDP) -------------------------------------------------------

// Whether a datagram is a search, "%2SRCH" and the end of its line (a carriage return, or a
// line feed from a hand at nc). Nothing else that comes to the search port is answered.
bool isSearch(std::string_view datagram);

// The answer to a search for one projector: "%2ACKN=" + its MAC address + a carriage return.
std::string searchAnswer(std::string_view mac);

// The MAC address a projector's endpoint answers a search with: a locally administered one
// made from the line's name and the projector's address, so that a tool sees each projector
// as a device of its own, the same one after every restart.
std::string endpointMac(std::string_view lineName, int address);

// ---- One connection ---------------------------------------------------------------------

// The protocol of one connection: the greeting, the digest in front of the first command,
// the lines cut at their carriage return, one answer at a time in the order of the lines, and
// the idle close. Time is handed in, in milliseconds of a steady clock.
class Session {
  public:
    using Write = std::function<void(std::string_view bytes)>;
    using CarryOut = std::function<void(const Request&, std::function<void(Result)> done)>;
    // What the server logs: each command and its result, and why a connection ends.
    using Log = std::function<void(std::string_view text)>;
    using Close = std::function<void(std::string why)>;

    struct Settings {
        std::optional<std::string> password;  // none: no authentication
        std::string random;                   // 8 hex digits, for the greeting with a password
    };

    Session(Settings settings, std::int64_t nowMs, Write write, CarryOut carryOut, Log log,
            Close close);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Writes the greeting.
    void open();
    void take(std::string_view bytes, std::int64_t nowMs);
    // Closes the connection when it has been idle for kIdleMs; true then.
    bool idleCheck(std::int64_t nowMs);

  private:
    struct Waiting {
        std::string header;
        std::optional<Request> request;  // none: the answer is `result`
        Result result;
    };
    void line(std::string_view text, bool tooLong);
    void pump();

    Settings settings_;
    Write write_;
    CarryOut carryOut_;
    Log log_;
    Close close_;
    std::int64_t lastMs_;
    bool authenticated_;
    bool closed_ = false;
    std::string partial_;
    bool overlong_ = false;
    bool afterCr_ = false;
    std::deque<Waiting> waiting_;
    bool busy_ = false;  // the front's request is being carried out
    std::shared_ptr<bool> alive_;
};

}  // namespace pj::line::pjlink
