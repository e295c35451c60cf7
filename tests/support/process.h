// SPDX-License-Identifier: Apache-2.0
#pragma once

// Programs started by the tests: the programs under test, the simulator, mosquitto and its
// clients. Each runs with every signal at its default disposition and none blocked, nothing of
// the test's open but its three standard streams, and is killed and reaped when its Process
// goes. They start by posix_spawn, which does not copy the test's memory: a test that starts
// programs in a loop does not hold up its own threads (a panel's timers) while it does.

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pj::test {

// Where one of a program's standard streams goes.
struct Stream {
    enum class Kind { Null, File, Descriptor, Pipe };
    // /dev/null.
    static Stream null() { return {Kind::Null, {}, -1}; }
    // A file: read from for the input; created, or emptied, and written to for an output.
    static Stream file(std::string path) { return {Kind::File, std::move(path), -1}; }
    // A descriptor of the test's own.
    static Stream descriptor(int fd) { return {Kind::Descriptor, {}, fd}; }
    // An output the test reads through its Process.
    static Stream pipe() { return {Kind::Pipe, {}, -1}; }

    Kind kind;
    std::string path;
    int fd;
};

// How to start a program: `args`, the first looked up on PATH unless it holds a slash, and
// what the setters change from the defaults (every stream on /dev/null).
struct Launch {
    explicit Launch(std::vector<std::string> programAndArgs) : args(std::move(programAndArgs)) {}
    Launch& input(Stream stream) { return set(in, std::move(stream)); }
    Launch& output(Stream stream) { return set(out, std::move(stream)); }
    Launch& errors(Stream stream) { return set(err, std::move(stream)); }
    // Standard error where the output goes (2>&1).
    Launch& errorsToOutput() {
        errToOut = true;
        return *this;
    }
    // NAME=VALUE, over the test's own environment.
    Launch& environment(std::string nameValue) {
        settings.push_back(std::move(nameValue));
        return *this;
    }
    // As this user and its group alike, with no other groups.
    Launch& asUser(uid_t id) {
        user = id;
        return *this;
    }

    std::vector<std::string> args;
    Stream in = Stream::null();
    Stream out = Stream::null();
    Stream err = Stream::null();
    bool errToOut = false;
    std::vector<std::string> settings;
    std::optional<uid_t> user;

  private:
    Launch& set(Stream& stream, Stream to) {
        stream = std::move(to);
        return *this;
    }
};

class Process {
  public:
    using Duration = std::chrono::steady_clock::duration;
    // Generous, for a loaded machine under the sanitizers.
    static constexpr Duration kDeadline = std::chrono::seconds(20);

    explicit Process(const Launch& launch);
    // `args` with their output and errors in the files `outputs`.out and `outputs`.err.
    Process(const std::vector<std::string>& args, const std::string& outputs);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int signal) const;
    // Waits for the end: the exit status, or -1 when it ended by a signal.
    int wait();
    // The same, waiting at most `limit`; nothing when it is still running then.
    std::optional<int> waitFor(Duration limit = kDeadline);
    // Sends `signal` and waits for the end.
    int stop(int signal = SIGTERM);

    // What its output and errors have said so far (a pipe's read without waiting).
    std::string out();
    std::string err();
    bool errSays(const std::string& text) { return err().find(text) != std::string::npos; }
    // Reads the output pipe until what it said satisfies `done`; false at `limit` or at its end.
    bool readOutUntil(const std::function<bool(const std::string&)>& done,
                      Duration limit = kDeadline);
    // Reads a pipe to its end (the program closed it, or ended), at most `limit`.
    std::string readOutToEnd(Duration limit = kDeadline);
    std::string readErrToEnd(Duration limit = kDeadline);
    // The output pipe's read end, for a test's own event loop.
    int outFd() const { return outputs_[0].fd; }

  private:
    struct Output {
        Stream::Kind kind = Stream::Kind::Null;
        std::string path;
        int fd = -1;  // a pipe's read end
        std::string said;
    };
    // Reads what is there now; waits up to `limit` for more when `wait`; false at the end.
    bool readSome(Output& output, Duration limit);
    std::string saidBy(Output& output);
    std::string readToEnd(Output& output, Duration limit);

    pid_t pid_ = -1;
    Output outputs_[2];
};

// Runs `launch` to its end, at most `limit` (then killed): its exit status (-1 for a signal or
// the limit), its output and its errors.
struct Ran {
    int status;
    std::string out, err;
};
Ran runToEnd(const Launch& launch, Process::Duration limit = Process::kDeadline);
// `args` with their output and errors in the files `outputs`.out and `outputs`.err.
Ran runToEnd(const std::vector<std::string>& args, const std::string& outputs);

// Waits until `done` holds, looking again every few milliseconds, at most `limit`; says
// whether it held.
bool waitFor(const std::function<bool()>& done, Process::Duration limit = Process::kDeadline);

// A TCP port nobody listens on now, on the loopback interface.
int freePort();

}  // namespace pj::test
