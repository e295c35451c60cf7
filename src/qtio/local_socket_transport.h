// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QLocalSocket>
#include <QTimer>

#include <memory>
#include <string>

#include "link/line_wire.h"
#include "qtio/stream_socket_transport.h"

namespace pj {

// A line server's local socket on QLocalSocket, named by its path. It takes the server's
// messages (link/line_wire.h): the hello goes first, the port is open once the server's
// greeting came (what the line brought before it is skipped), and from there on the line's
// bytes come in records and frames go out in them, so that nothing from the line is read as
// a message. The panel hears the whole line, as a raw client does. "lost REASON" is the
// device going away, told with the server's reason; a stream that breaks the records is too;
// the server's other messages are not the panel's business.
class LocalSocketTransport final : public StreamSocketTransport<QLocalSocket> {
  public:
    explicit LocalSocketTransport(std::string path);

    // How long the server may take to greet.
    static constexpr int kGreetingTimeoutMs = 5000;

    SerialResult write(std::string_view bytes) override;

  private:
    void connectSocket() override;
    void disconnectSocket() override;
    void whenConnected() override;
    void whenNotConnecting() override;
    bool opensWhenConnected() const override { return false; }
    void incoming(std::string bytes) override;

    std::string path_;
    std::unique_ptr<wire::ClientReader> reader_;
    QTimer greetingTimeout_;
};

}  // namespace pj
