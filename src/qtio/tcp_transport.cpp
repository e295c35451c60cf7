#include "qtio/tcp_transport.h"

namespace pj {

bool isTcpDevice(const QString& device) {
    return isTcpDevice(device.toStdString());
}

std::optional<TcpEndpoint> parseTcpDevice(const QString& device, QString* error) {
    std::string problem;
    std::optional<TcpEndpoint> endpoint = parseTcpDevice(device.toStdString(), &problem);
    if (!endpoint && error != nullptr) {
        *error = QString::fromStdString(problem);
    }
    return endpoint;
}

TcpTransport::TcpTransport(TcpEndpoint endpoint) : endpoint_(std::move(endpoint)) {
    connectTimeout_.setSingleShot(true);
    connectTimeout_.setInterval(kConnectTimeoutMs);
    QObject::connect(&connectTimeout_, &QTimer::timeout, &socket_,
                     [this] { failed(QStringLiteral("the connection timed out")); });
    // Queued, so that an error met inside connectToHost() is reported after open() returns.
    QObject::connect(
        &socket_, &QTcpSocket::connected, &socket_, [this] { connected(); }, Qt::QueuedConnection);
    QObject::connect(
        &socket_, &QTcpSocket::errorOccurred, &socket_,
        [this](QAbstractSocket::SocketError error) {
            if (connecting_) {
                failed(socket_.errorString());
            } else if (open_ && error != QAbstractSocket::SocketTimeoutError &&
                       error != QAbstractSocket::TemporaryError) {
                lost();
            }
        },
        Qt::QueuedConnection);
    // The far end closed the connection, or it broke (reset, unreachable).
    QObject::connect(
        &socket_, &QTcpSocket::disconnected, &socket_,
        [this] {
            if (open_) {
                lost();
            }
        },
        Qt::QueuedConnection);
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
        if (open_) {
            report({CommEvent::Kind::Receive, socket_.readAll().toStdString()});
        }
    });
}

TcpTransport::~TcpTransport() {
    setOnEvent(nullptr);
    socket_.abort();
}

SerialResult TcpTransport::open() {
    if (open_) {
        return SerialResult::failed("Port is already open");
    }
    if (connecting_) {
        return SerialResult::underWay();
    }
    // A connection still closing from before is dropped; a new one begins.
    socket_.abort();
    connecting_ = true;
    connectTimeout_.start();
    socket_.connectToHost(QString::fromStdString(endpoint_.host), endpoint_.port);
    return SerialResult::underWay();
}

void TcpTransport::connected() {
    if (!connecting_ || socket_.state() != QAbstractSocket::ConnectedState) {
        return;
    }
    connecting_ = false;
    connectTimeout_.stop();
    // Frames are a few bytes each and go out at once; a dead peer is noticed in time.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // As on a serial port, what came before the opening is not this session's.
    socket_.readAll();
    open_ = true;
    report({CommEvent::Kind::Opened, {}});
}

void TcpTransport::failed(const QString& why) {
    if (!connecting_) {
        return;
    }
    connecting_ = false;
    connectTimeout_.stop();
    socket_.abort();
    report({CommEvent::Kind::OpenFailed, endpointName(endpoint_) + ": " + why.toStdString()});
}

void TcpTransport::lost() {
    open_ = false;
    const std::string how = socket_.errorString().toStdString();
    socket_.abort();
    report({CommEvent::Kind::DeviceLost, how});
}

void TcpTransport::close() {
    connectTimeout_.stop();
    connecting_ = false;
    if (!open_) {
        socket_.abort();
        return;
    }
    open_ = false;
    // Bytes still on their way out go in the background; nothing waits for them here.
    socket_.disconnectFromHost();
}

SerialResult TcpTransport::write(std::string_view bytes) {
    if (!open_) {
        return SerialResult::failed(connecting_ ? endpointName(endpoint_) + ": still connecting"
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
