// SPDX-License-Identifier: Apache-2.0
#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace pj::test {

namespace {

using Clock = std::chrono::steady_clock;

// The program's path: as given when it holds a slash, else the first on PATH that runs.
std::string programPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return name;
}

// The test's environment with `over` put over it.
std::vector<std::string> environmentWith(const std::vector<std::string>& over) {
    std::vector<std::string> all;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view line(*entry);
        const std::string_view name = line.substr(0, line.find('='));
        bool replaced = false;
        for (const std::string& o : over) {
            replaced = replaced || o.substr(0, o.find('=')) == name;
        }
        if (!replaced) {
            all.emplace_back(line);
        }
    }
    all.insert(all.end(), over.begin(), over.end());
    return all;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// The descriptor the program's stream `stream` is given, opened here; -1 when it cannot be.
// A pipe's read end is left in `readEnd`.
int opened(const Stream& stream, bool input, int* readEnd) {
    switch (stream.kind) {
        case Stream::Kind::Null:
            return ::open("/dev/null", (input ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        case Stream::Kind::File:
            return ::open(stream.path.c_str(),
                          input ? O_RDONLY | O_CLOEXEC : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                          0600);
        case Stream::Kind::Descriptor:
            return ::fcntl(stream.fd, F_DUPFD_CLOEXEC, 3);
        case Stream::Kind::Pipe: {
            std::array<int, 2> ends{};
            if (input || ::pipe2(ends.data(), O_CLOEXEC) != 0) {
                return -1;
            }
            ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
            *readEnd = ends[0];
            return ends[1];
        }
    }
    return -1;
}

// The standard streams `given` (standard error as the output when `errToOut`).
int streamFor(const std::array<int, 3>& given, int stream, bool errToOut) {
    return stream == 2 && errToOut ? given[1] : given[stream];
}

pid_t spawn(const std::string& path, const std::vector<char*>& argv, const std::vector<char*>& envp,
            const std::array<int, 3>& given, bool errToOut) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int stream = 0; stream < 3; ++stream) {
        posix_spawn_file_actions_adddup2(&actions, streamFor(given, stream, errToOut), stream);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// The same as another user, which posix_spawn cannot do: the test's memory is copied.
pid_t forkAs(uid_t user, const std::string& path, const std::vector<char*>& argv,
             const std::vector<char*>& envp, const std::array<int, 3>& given, bool errToOut) {
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    // The child: nothing here but calls that are safe after a fork.
    for (int stream = 0; stream < 3; ++stream) {
        ::dup2(streamFor(given, stream, errToOut), stream);
    }
    ::close_range(3, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) {
        ::signal(s, SIG_DFL);
    }
    // The test's working folder may be closed to the other user; "/" is open to all.
    if (::chdir("/") != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 ||
        ::setuid(user) != 0) {
        ::_exit(126);
    }
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

Process::Process(const Launch& launch) {
    std::vector<std::string> args = launch.args;
    const std::string path = programPath(args.empty() ? std::string() : args[0]);
    std::vector<std::string> environment = environmentWith(launch.settings);
    const std::vector<char*> argv = pointers(args);
    const std::vector<char*> envp = pointers(environment);

    outputs_[0].kind = launch.out.kind;
    outputs_[0].path = launch.out.path;
    outputs_[1].kind = launch.errToOut ? Stream::Kind::Null : launch.err.kind;
    outputs_[1].path = launch.err.path;
    std::array<int, 3> given{opened(launch.in, true, nullptr),
                             opened(launch.out, false, &outputs_[0].fd),
                             launch.errToOut ? -1 : opened(launch.err, false, &outputs_[1].fd)};
    const bool ready = given[0] >= 0 && given[1] >= 0 && (launch.errToOut || given[2] >= 0);
    if (ready && !args.empty()) {
        pid_ = launch.user ? forkAs(*launch.user, path, argv, envp, given, launch.errToOut)
                           : spawn(path, argv, envp, given, launch.errToOut);
    }
    for (const int fd : given) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

Process::Process(const std::vector<std::string>& args, const std::string& outputs)
    : Process(Launch(args)
                  .output(Stream::file(outputs + ".out"))
                  .errors(Stream::file(outputs + ".err"))) {}

Process::~Process() {
    if (pid_ > 0) {
        stop(SIGKILL);
    }
    for (const Output& output : outputs_) {
        if (output.fd >= 0) {
            ::close(output.fd);
        }
    }
}

void Process::signal(int s) const {
    if (pid_ > 0) {
        ::kill(pid_, s);
    }
}

int Process::wait() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<int> Process::waitFor(Duration limit) {
    const auto until = Clock::now() + limit;
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > until) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (pid_ <= 0) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Process::stop(int s) {
    signal(s);
    return wait();
}

bool Process::readSome(Output& output, Duration limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        std::array<char, 4096> buffer{};
        const ssize_t got = ::read(output.fd, buffer.data(), buffer.size());
        if (got > 0) {
            output.said.append(buffer.data(), static_cast<std::size_t>(got));
            return true;
        }
        if (got == 0 || errno != EAGAIN) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd readable{output.fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
    }
}

std::string Process::saidBy(Output& output) {
    if (output.kind == Stream::Kind::File) {
        return fileText(output.path);
    }
    if (output.fd >= 0) {
        while (readSome(output, Duration::zero())) {
        }
    }
    return output.said;
}

std::string Process::readToEnd(Output& output, Duration limit) {
    const auto until = Clock::now() + limit;
    while (output.fd >= 0 && readSome(output, until - Clock::now())) {
    }
    return output.said;
}

std::string Process::out() {
    return saidBy(outputs_[0]);
}

std::string Process::err() {
    return saidBy(outputs_[1]);
}

bool Process::readOutUntil(const std::function<bool(const std::string&)>& done, Duration limit) {
    const auto until = Clock::now() + limit;
    while (!done(outputs_[0].said)) {
        if (outputs_[0].fd < 0 || !readSome(outputs_[0], until - Clock::now())) {
            return false;
        }
    }
    return true;
}

std::string Process::readOutToEnd(Duration limit) {
    return readToEnd(outputs_[0], limit);
}

std::string Process::readErrToEnd(Duration limit) {
    return readToEnd(outputs_[1], limit);
}

Ran runToEnd(const Launch& launch, Process::Duration limit) {
    Process p(launch);
    const auto until = Clock::now() + limit;
    std::string out = p.readOutToEnd(limit);
    std::string err = p.readErrToEnd(until - Clock::now());
    std::optional<int> status = p.waitFor(until - Clock::now());
    return {status.value_or(-1), launch.out.kind == Stream::Kind::File ? p.out() : out,
            launch.err.kind == Stream::Kind::File ? p.err() : err};
}

Ran runToEnd(const std::vector<std::string>& args, const std::string& outputs) {
    Process p(args, outputs);
    const int status = p.wait();
    return {status, p.out(), p.err()};
}

bool waitFor(const std::function<bool()>& done, Process::Duration limit) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace pj::test
