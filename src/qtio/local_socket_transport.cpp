#include "qtio/local_socket_transport.h"

namespace pj {

LocalSocketTransport::LocalSocketTransport(std::string path) : path_(std::move(path)) {
    // Queued, so that what is met inside connectToServer() is reported after open() returns.
    QObject::connect(
        &socket_, &QLocalSocket::connected, &socket_, [this] { connected(); },
        Qt::QueuedConnection);
    QObject::connect(
        &socket_, &QLocalSocket::errorOccurred, &socket_,
        [this](QLocalSocket::LocalSocketError) {
            if (connecting_) {
                failed(socket_.errorString());
            } else if (open_ && socket_.state() != QLocalSocket::ConnectedState) {
                lost();
            }
        },
        Qt::QueuedConnection);
    QObject::connect(
        &socket_, &QLocalSocket::disconnected, &socket_,
        [this] {
            if (open_) {
                lost();
            }
        },
        Qt::QueuedConnection);
    QObject::connect(&socket_, &QLocalSocket::readyRead, &socket_, [this] {
        if (open_) {
            report({CommEvent::Kind::Receive, socket_.readAll().toStdString()});
        }
    });
}

LocalSocketTransport::~LocalSocketTransport() {
    setOnEvent(nullptr);
    socket_.abort();
}

SerialResult LocalSocketTransport::open() {
    if (open_) {
        return SerialResult::failed("Port is already open");
    }
    if (connecting_) {
        return SerialResult::underWay();
    }
    // A connection still closing from before is dropped; a new one begins.
    socket_.abort();
    connecting_ = true;
    socket_.connectToServer(QString::fromStdString(path_));
    return SerialResult::underWay();
}

void LocalSocketTransport::connected() {
    if (!connecting_ || socket_.state() != QLocalSocket::ConnectedState) {
        return;
    }
    connecting_ = false;
    // As on a serial port, what came before the opening is not this session's.
    socket_.readAll();
    open_ = true;
    report({CommEvent::Kind::Opened, {}});
}

void LocalSocketTransport::failed(const QString& why) {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    socket_.abort();
    report({CommEvent::Kind::OpenFailed, path_ + ": " + why.toStdString()});
}

void LocalSocketTransport::lost() {
    open_ = false;
    const std::string how = socket_.errorString().toStdString();
    socket_.abort();
    report({CommEvent::Kind::DeviceLost, how});
}

void LocalSocketTransport::close() {
    connecting_ = false;
    if (!open_) {
        socket_.abort();
        return;
    }
    open_ = false;
    // Bytes still on their way out go in the background; nothing waits for them here.
    socket_.disconnectFromServer();
}

SerialResult LocalSocketTransport::write(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed(connecting_ ? path_ + ": still connecting"
                                                : std::string("the port is not open"));
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (socket_.write(bytes.data(), size) != size) {
        return SerialResult::failed(socket_.errorString().toStdString());
    }
    socket_.flush();
    return SerialResult::done();
}

}  // namespace pj
