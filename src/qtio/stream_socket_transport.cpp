// SPDX-License-Identifier: Apache-2.0
#include "qtio/stream_socket_transport.h"

#include <QLocalSocket>
#include <QTcpSocket>

namespace pj {

template <typename Socket>
StreamSocketTransport<Socket>::StreamSocketTransport(std::string name) : name_(std::move(name)) {
    // Queued, so that what is met inside connecting is reported after open() returns.
    QObject::connect(
        &socket_, &Socket::connected, &socket_, [this] { connected(); }, Qt::QueuedConnection);
    QObject::connect(
        &socket_, &Socket::errorOccurred, &socket_,
        [this](SocketError error) {
            if (connecting_) {
                failed(socket_.errorString());
            } else if (open_ && endsTheConnection(error)) {
                lost();
            }
        },
        Qt::QueuedConnection);
    // The far end closed the connection, or it broke (reset, unreachable).
    QObject::connect(
        &socket_, &Socket::disconnected, &socket_,
        [this] {
            if (open_) {
                lost();
            }
        },
        Qt::QueuedConnection);
    QObject::connect(&socket_, &Socket::readyRead, &socket_, [this] {
        if (open_ || (connecting_ && socket_.state() == Socket::ConnectedState)) {
            incoming(socket_.readAll().toStdString());
        }
    });
}

template <typename Socket>
void StreamSocketTransport<Socket>::incoming(std::string bytes) {
    if (open_) {
        report({CommEvent::Kind::Receive, std::move(bytes)});
    }
}

template <typename Socket>
void StreamSocketTransport<Socket>::finishOpening() {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    open_ = true;
    report({CommEvent::Kind::Opened, {}});
}

template <typename Socket>
void StreamSocketTransport<Socket>::lostFor(const std::string& how) {
    if (!open_) {
        return;
    }
    open_ = false;
    socket_.abort();
    report({CommEvent::Kind::DeviceLost, how});
}

template <typename Socket>
StreamSocketTransport<Socket>::~StreamSocketTransport() {
    setOnEvent(nullptr);
    socket_.abort();
}

template <typename Socket>
SerialResult StreamSocketTransport<Socket>::open() {
    if (open_) {
        return SerialResult::failed("Port is already open");
    }
    if (connecting_) {
        return SerialResult::underWay();
    }
    // A connection still closing from before is dropped; a new one begins.
    socket_.abort();
    connecting_ = true;
    connectSocket();
    return SerialResult::underWay();
}

template <typename Socket>
void StreamSocketTransport<Socket>::connected() {
    if (!connecting_ || socket_.state() != Socket::ConnectedState) {
        return;
    }
    // As on a serial port, what came before the opening is not this session's.
    socket_.readAll();
    whenConnected();
    if (opensWhenConnected()) {
        finishOpening();
    }
}

template <typename Socket>
void StreamSocketTransport<Socket>::failed(const QString& why) {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    whenNotConnecting();
    socket_.abort();
    report({CommEvent::Kind::OpenFailed, name_ + ": " + why.toStdString()});
}

template <typename Socket>
void StreamSocketTransport<Socket>::lost() {
    open_ = false;
    const std::string how = socket_.errorString().toStdString();
    socket_.abort();
    report({CommEvent::Kind::DeviceLost, how});
}

template <typename Socket>
void StreamSocketTransport<Socket>::close() {
    if (connecting_) {
        connecting_ = false;
        whenNotConnecting();
    }
    if (!open_) {
        socket_.abort();
        return;
    }
    open_ = false;
    // Bytes still on their way out go in the background; nothing waits for them here.
    disconnectSocket();
}

template <typename Socket>
SerialResult StreamSocketTransport<Socket>::write(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed(connecting_ ? name_ + ": still connecting"
                                                : std::string("the port is not open"));
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (socket_.write(bytes.data(), size) != size) {
        return SerialResult::failed(socket_.errorString().toStdString());
    }
    socket_.flush();
    return SerialResult::done();
}

template class StreamSocketTransport<QLocalSocket>;
template class StreamSocketTransport<QTcpSocket>;

}  // namespace pj
