// SPDX-License-Identifier: Apache-2.0
#include "process_probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <thread>

namespace pj::bench {

namespace {

using SteadyClock = std::chrono::steady_clock;

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

long statusField(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return 0;
}

}  // namespace

DisplayWatch::DisplayWatch() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return;
    }
    display_ = display;
    pidAtom_ = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
}

DisplayWatch::~DisplayWatch() {
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
    }
}

bool DisplayWatch::ownedBy(unsigned long window, pid_t pid) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(asDisplay(display_), window, pidAtom_, 0, 1, False,
                                          XA_CARDINAL, &type, &format, &count, &after, &data);
    bool owned = false;
    if (status == Success && data != nullptr && format == 32 && count == 1) {
        // Format-32 properties come back as longs.
        owned = static_cast<pid_t>(*reinterpret_cast<const long*>(data)) == pid;
    }
    if (data != nullptr) {
        XFree(data);
    }
    return owned;
}

std::optional<Started> DisplayWatch::start(const std::vector<std::string>& argv, int timeoutMs) {
    Display* display = asDisplay(display_);
    if (display == nullptr || argv.empty()) {
        return std::nullopt;
    }
    // Forget whatever was mapped before.
    XSync(display, True);

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    const SteadyClock::time_point started = SteadyClock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return std::nullopt;
    }
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::execv(args[0], args.data());
        std::perror(args[0]);
        ::_exit(127);
    }

    const SteadyClock::time_point deadline = started + std::chrono::milliseconds(timeoutMs);
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (SteadyClock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.override_redirect) {
                continue;
            }
            const SteadyClock::time_point mapped = SteadyClock::now();
            if (!ownedBy(event.xmap.window, pid)) {
                continue;
            }
            Started result;
            result.pid = pid;
            result.startupMs = msBetween(started, mapped);
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, event.xmap.window, &attributes) != 0) {
                result.width = attributes.width;
                result.height = attributes.height;
            }
            return result;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        ::poll(&connection, 1, static_cast<int>(std::max<long long>(left.count(), 0) + 1));
    }
    std::fprintf(stderr, "%s: no window within %d ms\n", argv[0].c_str(), timeoutMs);
    stopProcess(pid);
    return std::nullopt;
}

double cpuMs(pid_t pid) {
    namespace fs = std::filesystem;
    std::error_code error;
    long long ns = 0;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        long long onCpu = 0;
        if (schedstat >> onCpu) {
            ns += onCpu;
        }
    }
    return static_cast<double>(ns) / 1e6;
}

long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold spaces: count fields after it.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    // Fields 3 (state) onwards; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && (fields >> field); ++n) {
        if (n == 14) {
            utime = std::strtol(field.c_str(), nullptr, 10);
        } else if (n == 15) {
            stime = std::strtol(field.c_str(), nullptr, 10);
        }
    }
    return utime + stime;
}

long peakKb(pid_t pid) {
    return statusField(pid, "VmHWM");
}

long residentKb(pid_t pid) {
    return statusField(pid, "VmRSS");
}

MemoryKinds residentByKind(pid_t pid) {
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    MemoryKinds kinds;
    long* current = &kinds.otherKb;
    long* library = nullptr;
    std::string line;
    const auto endsWith = [](const std::string& text, std::string_view end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end.data(), end.size()) == 0;
    };
    while (std::getline(smaps, line)) {
        if (line.rfind("Rss:", 0) == 0) {
            const long kb = std::strtol(line.c_str() + 4, nullptr, 10);
            *current += kb;
            if (library != nullptr) {
                *library += kb;
            }
            continue;
        }
        // A mapping's header: "start-end perms offset dev inode [path]"; field lines are
        // "Name:   value".
        const std::size_t firstSpace = line.find(' ');
        if (firstSpace == std::string::npos || line.find('-') > firstSpace ||
            line[firstSpace - 1] == ':') {
            continue;
        }
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, path);
        library = nullptr;
        if (path.find("/fonts/") != std::string::npos || endsWith(path, ".ttf") ||
            endsWith(path, ".otf") || endsWith(path, ".ttc")) {
            current = &kinds.fontsKb;
        } else if (path.find(".so") != std::string::npos) {
            current = &kinds.librariesKb;
            library = &kinds.libraries[path.substr(path.rfind('/') + 1)];
        } else {
            current = &kinds.otherKb;
        }
    }
    return kinds;
}

void stopProcess(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace pj::bench
