// SPDX-License-Identifier: Apache-2.0
#include "posix/local_socket_transport.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_target.h"
#include "posix/socket_stream.h"

namespace pj::posix {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

// What a message from the line server says of the line: the device went away (the reason),
// or nothing that concerns the port.
std::optional<std::string> lossIn(std::string_view message) {
    const auto reason = [&](std::string_view word) -> std::optional<std::string_view> {
        if (message == word) {
            return std::string_view();
        }
        if (message.size() > word.size() && message.substr(0, word.size()) == word &&
            message[word.size()] == ' ') {
            return message.substr(word.size() + 1);
        }
        return std::nullopt;
    };
    if (const auto why = reason("lost")) {
        return "pjline: " +
               (why->empty() ? std::string("the line's device went away") : std::string(*why));
    }
    if (const auto why = reason("refused")) {
        return std::string(kLineServerSays) + "not sent: " + std::string(*why);
    }
    return std::nullopt;
}

}  // namespace

LocalSocketTransport::LocalSocketTransport(EventLoop& loop, std::string path)
    : loop_(loop), path_(std::move(path)), heldTimeout_(loop) {
    heldTimeout_.setInterval(kHeldTimeoutMs);
    heldTimeout_.setOnTimer([this] { failed("the line server did not take the hold"); });
}

LocalSocketTransport::~LocalSocketTransport() {
    setOnEvent(nullptr);
    close();
}

SerialResult LocalSocketTransport::open() {
    if (open_) {
        return SerialResult::failed("Port is already open");
    }
    if (connecting_) {
        return SerialResult::underWay();
    }
    // A connection still closing from before is dropped; a new one begins.
    dropSocket();
    connecting_ = true;
    held_ = false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        loop_.post(this, [this] { failed("the path is too long for a socket"); });
        return SerialResult::underWay();
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        const std::string why = errorText(errno);
        loop_.post(this, [this, why] { failed(why); });
        return SerialResult::underWay();
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        // Said on a later turn, as every end of an opening is.
        const std::string why = errorText(errno);
        loop_.post(this, [this, why] { failed(why); });
        return SerialResult::underWay();
    }
    // Made, or under way: either way seen as the socket becoming writable on a later turn.
    watch_ = loop_.watch(fd_, POLLOUT, [this](short) { connectReady(); });
    return SerialResult::underWay();
}

void LocalSocketTransport::connectReady() {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
    }
    if (error != 0) {
        failed(errorText(error));
        return;
    }
    inMessage_ = false;
    message_.clear();
    loop_.unwatch(watch_);
    watch_ = loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
    // The hello goes before any frame, the first bytes of the connection; the port is open
    // once the server has taken it, and what came before that was others' traffic.
    pending_ = std::string(kHello);
    flushPending();
    heldTimeout_.setEnabled(true);
}

void LocalSocketTransport::failed(const std::string& why) {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    heldTimeout_.setEnabled(false);
    dropSocket();
    report({CommEvent::Kind::OpenFailed, path_ + ": " + why});
}

std::string LocalSocketTransport::takeMessages(std::string_view bytes,
                                               std::optional<std::string>& gone) {
    std::string line;
    for (const char c : bytes) {
        if (!inMessage_) {
            if (c == '\0') {
                inMessage_ = true;
                message_.clear();
            } else {
                line.push_back(c);
            }
            continue;
        }
        if (c != '\r') {
            if (message_.size() < kLongestMessage) {
                message_.push_back(c);
            }
            continue;
        }
        inMessage_ = false;
        if (connecting_ && message_ == "held") {
            held_ = true;
            line.clear();
        }
        gone = lossIn(message_);
        message_.clear();
        if (gone) {
            break;
        }
    }
    return line;
}

void LocalSocketTransport::ready(short revents) {
    if ((revents & POLLOUT) != 0) {
        flushPending();
    }
    std::string data;
    std::optional<std::string> gone;
    const ReadEnd end = readAvailable(fd_, [&](std::string_view chunk) {
        data += takeMessages(chunk, gone);
        return !gone;
    });
    if (end.closed) {
        gone = path_ + ": the line server closed the connection";
    } else if (end.error != 0) {
        gone = path_ + ": " + errorText(end.error);
    }
    if (connecting_) {
        if (gone) {
            // failed() names the path itself.
            const std::string named = path_ + ": ";
            failed(gone->rfind(named, 0) == 0 ? gone->substr(named.size()) : *gone);
            return;
        }
        if (!held_) {
            return;
        }
        connecting_ = false;
        heldTimeout_.setEnabled(false);
        open_ = true;
        report({CommEvent::Kind::Opened, {}});
    }
    const EventLoop::WatchId watch = watch_;
    if (!data.empty() && open_) {
        report({CommEvent::Kind::Receive, std::move(data)});
    }
    // The handler may have closed the port, or closed it and opened it again.
    if (gone && open_ && watch_ == watch) {
        lost(*gone);
    }
}

void LocalSocketTransport::lost(const std::string& how) {
    open_ = false;
    dropSocket();
    report({CommEvent::Kind::DeviceLost, how});
}

void LocalSocketTransport::flushPending() {
    if (const int error = sendSome(fd_, pending_); error != 0) {
        // As a connection that broke: reported on a later turn, as a device gone.
        const std::string how = path_ + ": " + errorText(error);
        pending_.clear();
        loop_.post(this, [this, how] {
            if (open_) {
                lost(how);
            }
        });
    }
    loop_.setEvents(watch_, pending_.empty() ? POLLIN : POLLIN | POLLOUT);
}

void LocalSocketTransport::dropSocket() {
    pending_.clear();
    if (fd_ < 0) {
        return;
    }
    loop_.unwatch(watch_);
    watch_ = 0;
    ::close(fd_);
    fd_ = -1;
}

void LocalSocketTransport::close() {
    connecting_ = false;
    heldTimeout_.setEnabled(false);
    loop_.cancelPosted(this);
    if (open_ && fd_ >= 0) {
        readyToClose(fd_, pending_);
    }
    open_ = false;
    dropSocket();
}

SerialResult LocalSocketTransport::write(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed(connecting_ ? path_ + ": still connecting"
                                                : std::string("the port is not open"));
    }
    const bool idle = pending_.empty();
    pending_.append(bytes);
    if (idle) {
        flushPending();
    }
    return SerialResult::done();
}

}  // namespace pj::posix
