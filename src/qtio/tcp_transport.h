#pragma once

#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

#include "link/tcp_endpoint.h"
#include "link/transport.h"

namespace pj {

// The "tcp://HOST:PORT" names of link/tcp_endpoint.h, for the Qt side's QString names.
bool isTcpDevice(const QString& device);
std::optional<TcpEndpoint> parseTcpDevice(const QString& device, QString* error = nullptr);

// A serial device server on QTcpSocket. Nothing here waits: connecting is under way when
// open() returns and its end is reported; closing lets the bytes still on their way out go
// in the background. A connection closed or broken from the far end is reported as a device
// that went away. Line settings are kept by the device server, not here.
class TcpTransport final : public Transport {
  public:
    explicit TcpTransport(TcpEndpoint endpoint);
    ~TcpTransport() override;

    // How long a connection may take to be made before it is given up.
    static constexpr int kConnectTimeoutMs = 5000;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool opening() const override { return connecting_; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams&) override { return SerialResult::done(); }

  private:
    void connected();
    void failed(const QString& why);
    void lost();

    TcpEndpoint endpoint_;
    QTcpSocket socket_;
    QTimer connectTimeout_;
    bool open_ = false;
    bool connecting_ = false;
};

}  // namespace pj
