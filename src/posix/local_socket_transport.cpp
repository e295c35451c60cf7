// SPDX-License-Identifier: Apache-2.0
#include "posix/local_socket_transport.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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
    if (const auto why = wire::messageArgument(message, wire::kLost)) {
        return std::string(kLineServerSays) +
               (why->empty() ? std::string("the line's device went away") : std::string(*why));
    }
    if (const auto why = wire::messageArgument(message, wire::kRefused)) {
        return std::string(kLineServerSays) + "not sent: " + std::string(*why);
    }
    return std::nullopt;
}

}  // namespace

LocalSocketTransport::LocalSocketTransport(EventLoop& loop, std::string path, int lineWaitMs)
    : loop_(loop),
      path_(std::move(path)),
      heldTimeout_(loop),
      lineWaitMs_(lineWaitMs),
      lineWait_(loop) {
    heldTimeout_.setInterval(kHeldTimeoutMs);
    heldTimeout_.setOnTimer([this] { failed("the line server did not take the hold"); });
    lineWait_.setInterval(lineWaitMs_);
    lineWait_.setOnTimer([this] {
        lineWait_.setEnabled(false);
        if (open_) {
            // The connection goes, and with it the frame still waiting in the server.
            const std::string tenths =
                lineWaitMs_ % 1000 == 0 ? "" : "." + std::to_string(lineWaitMs_ % 1000 / 100);
            lost(std::string(kLineServerSays) + std::string(wire::kLineBusy) + ": no turn within " +
                 std::to_string(lineWaitMs_ / 1000) + tenths + " s");
        }
    });
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
    loop_.unwatch(watch_);
    watch_ = loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
    // The hello goes before any frame, the first bytes of the connection; the port is open
    // once the server has taken the hold, and what came before that was others' traffic.
    const std::string hello = wire::hello(wire::freshNonce());
    reader_ = std::make_unique<wire::ClientReader>(hello);
    waiting_ = 0;
    pending_ = hello + wire::message(wire::kHold);
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

std::string LocalSocketTransport::takeRecords(std::string_view bytes, int& written,
                                              std::optional<std::string>& gone) {
    std::vector<wire::Record> records;
    const bool whole = reader_->take(bytes, records);
    std::string line;
    for (const wire::Record& record : records) {
        if (record.type == wire::RecordType::Data) {
            line += record.payload;
            continue;
        }
        if (connecting_ && record.payload == wire::kHeld) {
            held_ = true;
            line.clear();
        } else if (record.payload == wire::kSent) {
            ++written;
        }
        gone = lossIn(record.payload);
        if (gone) {
            return line;
        }
    }
    if (!whole) {
        gone = path_ + ": the line server's records make no sense";
    }
    return line;
}

void LocalSocketTransport::ready(short revents) {
    if ((revents & POLLOUT) != 0) {
        flushPending();
    }
    std::string data;
    std::optional<std::string> gone;
    int written = 0;
    const ReadEnd end = readAvailable(fd_, [&](std::string_view chunk) {
        data += takeRecords(chunk, written, gone);
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
    if (written > 0 && open_) {
        waiting_ = std::max(0, waiting_ - written);
        // A frame still waiting has its own time from here.
        lineWait_.setEnabled(false);
        lineWait_.setEnabled(waiting_ > 0);
        report({CommEvent::Kind::Written, {}});
    }
    if (!data.empty() && open_ && watch_ == watch) {
        report({CommEvent::Kind::Receive, std::move(data)});
    }
    // The handler may have closed the port, or closed it and opened it again.
    if (gone && open_ && watch_ == watch) {
        lost(*gone);
    }
}

void LocalSocketTransport::lost(const std::string& how) {
    open_ = false;
    lineWait_.setEnabled(false);
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
    lineWait_.setEnabled(false);
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
    pending_.append(wire::dataRecord(bytes));
    if (idle) {
        flushPending();
    }
    // Each carriage return ends a frame, which waits in the server for its turn.
    const auto frames = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\r'));
    if (frames == 0) {
        return SerialResult::done();
    }
    if (waiting_ == 0) {
        lineWait_.setEnabled(true);
    }
    waiting_ += frames;
    return SerialResult::underWay();
}

}  // namespace pj::posix
