// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

#include "link/tcp_endpoint.h"
#include "qtio/stream_socket_transport.h"

namespace pj {

// The "tcp://HOST:PORT" names of link/tcp_endpoint.h, for the Qt side's QString names.
bool isTcpDevice(const QString& device);
std::optional<TcpEndpoint> parseTcpDevice(const QString& device, QString* error = nullptr);

// A serial device server on QTcpSocket, given up if connecting takes longer than
// kTcpConnectTimeoutMs. Line settings
// are kept by the device server, not here.
class TcpTransport final : public StreamSocketTransport<QTcpSocket> {
  public:
    explicit TcpTransport(TcpEndpoint endpoint);

  private:
    void connectSocket() override;
    void disconnectSocket() override;
    void whenConnected() override;
    void whenNotConnecting() override;
    bool endsTheConnection(QAbstractSocket::SocketError error) const override;

    TcpEndpoint endpoint_;
    QTimer connectTimeout_;
};

}  // namespace pj
