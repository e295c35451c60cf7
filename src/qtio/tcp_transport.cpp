// SPDX-License-Identifier: Apache-2.0
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

TcpTransport::TcpTransport(TcpEndpoint endpoint)
    : StreamSocketTransport(endpointName(endpoint)), endpoint_(std::move(endpoint)) {
    connectTimeout_.setSingleShot(true);
    connectTimeout_.setInterval(kTcpConnectTimeoutMs);
    QObject::connect(&connectTimeout_, &QTimer::timeout, &socket_, [this] {
        failed(QString::fromUtf8(kTcpConnectTimedOut.data(),
                                 static_cast<qsizetype>(kTcpConnectTimedOut.size())));
    });
}

void TcpTransport::connectSocket() {
    connectTimeout_.start();
    socket_.connectToHost(QString::fromStdString(endpoint_.host), endpoint_.port);
}

void TcpTransport::disconnectSocket() {
    socket_.disconnectFromHost();
}

void TcpTransport::whenConnected() {
    connectTimeout_.stop();
    // Frames are a few bytes each and go out at once; a dead peer is noticed in time.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
}

void TcpTransport::whenNotConnecting() {
    connectTimeout_.stop();
}

bool TcpTransport::endsTheConnection(QAbstractSocket::SocketError error) const {
    // A read or write that timed out, or a resource short for a moment, leaves it standing.
    return error != QAbstractSocket::SocketTimeoutError && error != QAbstractSocket::TemporaryError;
}

}  // namespace pj
