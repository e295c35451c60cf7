#include "qtio/tcp_transport.h"

#include <algorithm>

namespace pj {

namespace {
constexpr QLatin1String kTcpScheme("tcp://");
}  // namespace

bool isTcpDevice(const QString& device) {
    return device.startsWith(kTcpScheme, Qt::CaseInsensitive);
}

QString endpointName(const TcpEndpoint& endpoint) {
    const QString host =
        endpoint.host.contains(QLatin1Char(':')) ? "[" + endpoint.host + "]" : endpoint.host;
    return host + ":" + QString::number(endpoint.port);
}

std::optional<TcpEndpoint> parseTcpDevice(const QString& device, QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<TcpEndpoint> {
        if (error != nullptr) {
            *error = "\"" + device + "\" is not a network port (tcp://HOST:PORT): " + why;
        }
        return std::nullopt;
    };
    if (!isTcpDevice(device)) {
        return fail(QStringLiteral("it does not begin with tcp://"));
    }
    QString rest = device.mid(kTcpScheme.size());
    if (rest.endsWith(QLatin1Char('/'))) {
        rest.chop(1);
    }
    // An IPv6 address stands in brackets, so that its colons are not taken for the port's.
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < rest.size() && rest.at(close + 1) != QLatin1Char(':'))) {
            return fail(QStringLiteral("an IPv6 address is written [ADDRESS]:PORT"));
        }
        host = rest.mid(1, close - 1);
        port = close + 1 < rest.size() ? rest.mid(close + 2) : QString();
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        host = colon < 0 ? rest : rest.left(colon);
        port = colon < 0 ? QString() : rest.mid(colon + 1);
    }
    if (host.isEmpty()) {
        return fail(QStringLiteral("the host is missing"));
    }
    static const QString kNotInHost = QStringLiteral("/?#@[] ");
    if (std::any_of(host.begin(), host.end(), [](QChar c) { return kNotInHost.contains(c); })) {
        return fail(QStringLiteral("only a host and a port number may follow tcp://"));
    }
    bool number = false;
    const uint value = port.toUInt(&number);
    if (!number || value < 1 || value > 65535) {
        return fail(QStringLiteral("no port number (1 to 65535) after the host"));
    }
    return TcpEndpoint{host, static_cast<std::uint16_t>(value)};
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
    socket_.connectToHost(endpoint_.host, endpoint_.port);
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
    report({CommEvent::Kind::OpenFailed, (endpointName(endpoint_) + ": " + why).toStdString()});
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
        return SerialResult::failed(connecting_ ? endpointName(endpoint_).toStdString() +
                                                      ": still connecting"
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
