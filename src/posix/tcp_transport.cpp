// SPDX-License-Identifier: Apache-2.0
#include "posix/tcp_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "posix/socket_stream.h"

namespace pj::posix {

// A lookup of the host's name on a thread of its own, which says it is done through a pipe.
// Shared with that thread, which may outlive the transport that asked.
struct TcpTransport::Lookup {
    Lookup() {
        if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            pipe[0] = pipe[1] = -1;
        }
    }
    ~Lookup() {
        if (result != nullptr) {
            ::freeaddrinfo(result);
        }
        for (const int fd : pipe) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    int pipe[2];
    std::mutex mutex;
    int status = 0;
    addrinfo* result = nullptr;
};

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

addrinfo streamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    return hints;
}

std::string lookupError(int status) {
    if (status == EAI_NONAME || status == EAI_FAIL
#ifdef EAI_NODATA
        || status == EAI_NODATA
#endif
    ) {
        return "Host not found";
    }
    return ::gai_strerror(status);
}

}  // namespace

TcpTransport::TcpTransport(EventLoop& loop, TcpEndpoint endpoint)
    : loop_(loop), endpoint_(std::move(endpoint)), connectTimeout_(loop) {
    connectTimeout_.setInterval(kTcpConnectTimeoutMs);
    connectTimeout_.setOnTimer([this] {
        connectTimeout_.setEnabled(false);
        failed(std::string(kTcpConnectTimedOut));
    });
}

TcpTransport::~TcpTransport() {
    setOnEvent(nullptr);
    close();
}

SerialResult TcpTransport::open() {
    if (open_) {
        return SerialResult::failed("Port is already open");
    }
    if (connecting_) {
        return SerialResult::underWay();
    }
    // A connection still closing from before is dropped; a new one begins.
    dropSocket();
    connecting_ = true;
    connectTimeout_.setEnabled(true);
    lastError_.clear();

    const std::string service = std::to_string(endpoint_.port);
    // An address written out needs no lookup; a name may take long, so it goes to a thread.
    addrinfo numeric = streamHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    if (::getaddrinfo(endpoint_.host.c_str(), service.c_str(), &numeric, &list) == 0) {
        addresses(list);
        ::freeaddrinfo(list);
        connectNext();
        return SerialResult::underWay();
    }
    auto lookup = std::make_shared<Lookup>();
    if (lookup->pipe[0] < 0) {
        const std::string why = errorText(errno);
        loop_.post(this, [this, why] { failed(why); });
        return SerialResult::underWay();
    }
    try {
        std::thread([lookup, host = endpoint_.host, service] {
            const addrinfo hints = streamHints(AI_ADDRCONFIG);
            addrinfo* found = nullptr;
            const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            {
                const std::lock_guard lock(lookup->mutex);
                lookup->status = status;
                lookup->result = found;
            }
            const char done = 1;
            // A byte already in the pipe wakes the loop as well as this one would.
            [[maybe_unused]] const auto written = ::write(lookup->pipe[1], &done, 1);
        }).detach();
    } catch (const std::system_error& e) {
        const std::string why = e.what();
        loop_.post(this, [this, why] { failed(why); });
        return SerialResult::underWay();
    }
    lookup_ = lookup;
    lookupWatch_ =
        loop_.watch(lookup->pipe[0], POLLIN, [this, lookup](short) { lookedUp(lookup); });
    return SerialResult::underWay();
}

void TcpTransport::lookedUp(const std::shared_ptr<Lookup>& lookup) {
    stopLookup();
    int status = 0;
    {
        const std::lock_guard lock(lookup->mutex);
        status = lookup->status;
        if (status == 0) {
            addresses(lookup->result);
        }
    }
    if (status != 0) {
        failed(lookupError(status));
        return;
    }
    connectNext();
}

void TcpTransport::addresses(const addrinfo* list) {
    addresses_.clear();
    nextAddress_ = 0;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
        addresses_.push_back({a->ai_family, {bytes, bytes + a->ai_addrlen}});
    }
}

void TcpTransport::connectNext() {
    while (connecting_ && nextAddress_ < addresses_.size()) {
        const Address& address = addresses_[nextAddress_++];
        const int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError_ = errorText(errno);
            continue;
        }
        const auto* where = reinterpret_cast<const sockaddr*>(address.bytes.data());
        const auto length = static_cast<socklen_t>(address.bytes.size());
        if (::connect(fd, where, length) == 0 || errno == EINPROGRESS) {
            // Its end is seen as the socket becoming writable, on a later turn of the loop.
            fd_ = fd;
            watch_ = loop_.watch(fd_, POLLOUT, [this](short revents) { connectReady(revents); });
            return;
        }
        lastError_ = errorText(errno);
        ::close(fd);
    }
    if (connecting_) {
        // Said on a later turn: this may be inside open().
        const std::string why = lastError_.empty() ? "Host not found" : lastError_;
        loop_.post(this, [this, why] { failed(why); });
    }
}

void TcpTransport::connectReady(short revents) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
    }
    if (error == 0 && (revents & POLLOUT) != 0) {
        connected();
        return;
    }
    lastError_ = errorText(error != 0 ? error : ECONNREFUSED);
    dropSocket();
    connectNext();
}

void TcpTransport::connected() {
    connecting_ = false;
    connectTimeout_.setEnabled(false);
    // Frames are a few bytes each and go out at once; a dead peer is noticed in time.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    loop_.unwatch(watch_);
    watch_ = loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
    open_ = true;
    report({CommEvent::Kind::Opened, {}});
}

void TcpTransport::failed(const std::string& why) {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    connectTimeout_.setEnabled(false);
    stopLookup();
    dropSocket();
    report({CommEvent::Kind::OpenFailed, endpointName(endpoint_) + ": " + why});
}

void TcpTransport::ready(short revents) {
    if ((revents & POLLOUT) != 0 && !pending_.empty()) {
        // A send that fails for good is seen again as the connection's end, below.
        sendSome(fd_, pending_);
        if (pending_.empty()) {
            loop_.setEvents(watch_, POLLIN);
        }
    }
    std::string data;
    const ReadEnd end = readAvailable(fd_, [&](std::string_view chunk) {
        data += chunk;
        return true;
    });
    std::optional<std::string> gone;
    if (end.closed) {
        gone = "The remote host closed the connection";
    } else if (end.error != 0) {
        gone = errorText(end.error);
    }
    const EventLoop::WatchId watch = watch_;
    if (!data.empty()) {
        report({CommEvent::Kind::Receive, std::move(data)});
    }
    // The handler may have closed the port, or closed it and opened it again.
    if (gone && open_ && watch_ == watch) {
        lost(*gone);
    }
}

void TcpTransport::lost(const std::string& how) {
    open_ = false;
    dropSocket();
    report({CommEvent::Kind::DeviceLost, how});
}

void TcpTransport::dropSocket() {
    pending_.clear();
    if (fd_ < 0) {
        return;
    }
    loop_.unwatch(watch_);
    ::close(fd_);
    fd_ = -1;
}

void TcpTransport::stopLookup() {
    if (lookup_) {
        loop_.unwatch(lookupWatch_);
        lookup_.reset();
    }
}

void TcpTransport::close() {
    connectTimeout_.setEnabled(false);
    connecting_ = false;
    stopLookup();
    loop_.cancelPosted(this);
    if (open_ && fd_ >= 0) {
        readyToClose(fd_, pending_);
    }
    open_ = false;
    dropSocket();
}

SerialResult TcpTransport::write(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed(connecting_ ? endpointName(endpoint_) + ": still connecting"
                                                : std::string("the port is not open"));
    }
    const bool idle = pending_.empty();
    pending_.append(bytes);
    if (!idle) {
        return SerialResult::done();
    }
    if (const int error = sendSome(fd_, pending_); error != 0) {
        // As a connection that broke: reported on a later turn, as a device gone.
        const std::string how = errorText(error);
        pending_.clear();
        loop_.post(this, [this, how] {
            if (open_) {
                lost(how);
            }
        });
        return SerialResult::done();
    }
    if (!pending_.empty()) {
        loop_.setEvents(watch_, POLLIN | POLLOUT);
    }
    return SerialResult::done();
}

}  // namespace pj::posix
