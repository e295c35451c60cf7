#include "shell/qt_serial_control.h"

#include <QTimer>

#include <algorithm>

#include "link/line_settings.h"

namespace pj {

namespace {

// How long opening a network port may take: the first time, and again after it went away,
// when the window retries it every second and must stay responsive meanwhile.
constexpr int kConnectWaitMs = 2000;
constexpr int kRetryWaitMs = 250;
// How long closing a network port waits for bytes still on their way out.
constexpr int kCloseWaitMs = 1000;

constexpr QLatin1String kTcpScheme("tcp://");

SerialError describe(const QIODevice& device) {
    return device.errorString().toStdString();
}

QString endpointName(const TcpEndpoint& endpoint) {
    const QString host =
        endpoint.host.contains(QLatin1Char(':')) ? "[" + endpoint.host + "]" : endpoint.host;
    return host + ":" + QString::number(endpoint.port);
}

QSerialPort::Parity toParity(char parity) {
    switch (parity) {
        case 'E':
            return QSerialPort::EvenParity;
        case 'O':
            return QSerialPort::OddParity;
        case 'M':
            return QSerialPort::MarkParity;
        case 'S':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

}  // namespace

bool isTcpDevice(const QString& device) {
    return device.startsWith(kTcpScheme, Qt::CaseInsensitive);
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

QtSerialControl::QtSerialControl(QObject* parent) : QObject(parent) {
#ifdef Q_OS_WIN
    devices_ = {QStringLiteral("COM1"), QStringLiteral("COM2")};
#else
    devices_ = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")};
#endif
    serial_.setFlowControl(QSerialPort::NoFlowControl);
    applySettings();
    connect(&serial_, &QSerialPort::readyRead, this, [this] { raise(kCommEvReceive); });
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);

    connect(&socket_, &QTcpSocket::readyRead, this, [this] {
        if (tcpOpen_) {
            raise(kCommEvReceive);
        }
    });
    // The far end closed the connection, or it broke (reset, unreachable).
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        if (tcpOpen_) {
            loseDevice();
        }
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (tcpOpen_ && e != QAbstractSocket::SocketTimeoutError &&
            e != QAbstractSocket::TemporaryError) {
            loseDevice();
        }
    });
}

QtSerialControl::~QtSerialControl() {
    onComm_ = nullptr;
    serial_.close();
    socket_.abort();
}

void QtSerialControl::setDevice(int port, const QString& device) {
    if (port == 1 || port == 2) {
        devices_[static_cast<std::size_t>(port - 1)] = device;
    }
}

QString QtSerialControl::device(int port) const {
    return (port == 1 || port == 2) ? devices_[static_cast<std::size_t>(port - 1)] : QString();
}

SerialError QtSerialControl::setCommPort(int port) {
    if (port != 1 && port != 2) {
        return "Invalid port number";
    }
    if (portOpen()) {
        return "Port is already open";
    }
    port_ = port;
    // An attempt to reach the previous port's network address is given up.
    tcpRetrying_ = false;
    socket_.abort();
    return std::nullopt;
}

SerialError QtSerialControl::setSettings(std::string_view settings) {
    if (!parseLineSettings(settings)) {
        return "Invalid line settings";
    }
    settings_ = settings;
    return applySettings();
}

SerialError QtSerialControl::applySettings() {
    const auto params = parseLineSettings(settings_);
    if (!params) {
        return "Invalid line settings";
    }
    const bool ok =
        serial_.setBaudRate(params->baud) && serial_.setParity(toParity(params->parity)) &&
        serial_.setDataBits(static_cast<QSerialPort::DataBits>(params->dataBits)) &&
        serial_.setStopBits(params->stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    return ok ? SerialError{} : describe(serial_);
}

SerialError QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (serial_.isOpen()) {
            serial_.close();
        }
        closeTcp();
        return std::nullopt;
    }
    if (portOpen()) {
        return "Port is already open";
    }
    if (isTcpDevice(device(port_))) {
        return openTcp();
    }
    serial_.setPortName(device(port_));
    if (!serial_.open(QIODevice::ReadWrite)) {
        return describe(serial_);
    }
    if (const SerialError error = applySettings()) {
        serial_.close();
        return error;
    }
    serial_.clear();
    return std::nullopt;
}

SerialError QtSerialControl::openTcp() {
    QString problem;
    const std::optional<TcpEndpoint> endpoint = parseTcpDevice(device(port_), &problem);
    if (!endpoint) {
        return problem.toStdString();
    }
    // While a lost network port is retried, an attempt that is still under way is left to
    // go on and looked at again on the next try.
    if (socket_.state() == QAbstractSocket::UnconnectedState) {
        socket_.connectToHost(endpoint->host, endpoint->port);
    }
    if (!socket_.waitForConnected(tcpRetrying_ ? kRetryWaitMs : kConnectWaitMs)) {
        const bool underWay = socket_.state() == QAbstractSocket::HostLookupState ||
                              socket_.state() == QAbstractSocket::ConnectingState;
        if (tcpRetrying_ && underWay) {
            return (endpointName(*endpoint) + ": still connecting").toStdString();
        }
        const std::string error =
            (endpointName(*endpoint) + ": " + socket_.errorString()).toStdString();
        socket_.abort();
        return error;
    }
    // Frames are a few bytes each and go out at once; a dead peer is noticed in time.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // As on a serial port, what came before the opening is not this session's.
    socket_.readAll();
    tcpOpen_ = true;
    tcpRetrying_ = false;
    return std::nullopt;
}

void QtSerialControl::closeTcp() {
    tcpRetrying_ = false;
    if (!tcpOpen_) {
        socket_.abort();
        return;
    }
    tcpOpen_ = false;
    socket_.disconnectFromHost();
    if (socket_.state() != QAbstractSocket::UnconnectedState) {
        socket_.waitForDisconnected(kCloseWaitMs);
    }
    socket_.abort();
}

SerialError QtSerialControl::output(std::string_view bytes) {
    if (tcpOpen_) {
        const auto size = static_cast<qint64>(bytes.size());
        if (socket_.write(bytes.data(), size) != size) {
            return describe(socket_);
        }
        socket_.flush();
        return std::nullopt;
    }
    if (!serial_.isOpen()) {
        return "the port is not open";
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (serial_.write(bytes.data(), size) != size) {
        return describe(serial_);
    }
    // Hand the frame to the driver now rather than on the next turn of the event loop.
    serial_.flush();
    return std::nullopt;
}

std::string QtSerialControl::input() {
    if (tcpOpen_) {
        return socket_.readAll().toStdString();
    }
    return serial_.isOpen() ? serial_.readAll().toStdString() : std::string();
}

void QtSerialControl::raise(int event) {
    event_ = event;
    if (onComm_) {
        onComm_();
    }
}

void QtSerialControl::onError(QSerialPort::SerialPortError error) {
    // A device that went away shows as a resource error (an adapter pulled) or as a read
    // that finds the line hung up (the other end of a pseudo-terminal gone).
    const bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (lost && serial_.isOpen()) {
        loseDevice();
    }
}

void QtSerialControl::loseDevice() {
    if (!portOpen() || closing_) {
        return;
    }
    // Close it so nothing spins on a dead descriptor, and say so once. Closing from inside the
    // port's own notification is not safe, so it happens on the next turn of the event loop.
    closing_ = true;
    QTimer::singleShot(0, this, [this] {
        closing_ = false;
        if (serial_.isOpen()) {
            serial_.close();
            raise(kCommEvDeviceLost);
        } else if (tcpOpen_) {
            tcpOpen_ = false;
            socket_.abort();
            tcpRetrying_ = true;
            raise(kCommEvDeviceLost);
        }
    });
}

}  // namespace pj
