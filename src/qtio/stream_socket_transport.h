// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <string>
#include <utility>

#include "link/transport.h"

namespace pj {

// A connection on a Qt stream socket (QTcpSocket, QLocalSocket) as a port. Nothing here
// waits: connecting is under way when open() returns and its end is reported; closing lets
// the bytes still on their way out go in the background. The far end closing or breaking the
// connection is reported as a device that went away. The bytes pass as they are, both ways;
// line settings are the far end's business. What differs between sockets is the kind's own:
// how it connects and disconnects, and what it does around that.
template <typename Socket>
class StreamSocketTransport : public Transport {
  public:
    ~StreamSocketTransport() override;
    StreamSocketTransport(const StreamSocketTransport&) = delete;
    StreamSocketTransport& operator=(const StreamSocketTransport&) = delete;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool opening() const override { return connecting_; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams&) override { return SerialResult::done(); }

  protected:
    using SocketError = decltype(std::declval<const Socket&>().error());

    // `name` heads what is said of a connection that could not be made.
    explicit StreamSocketTransport(std::string name);

    // Begins connecting socket_, its end reported by the socket's signals.
    virtual void connectSocket() = 0;
    // Closes socket_ once the bytes on their way out have gone.
    virtual void disconnectSocket() = 0;
    // Called once the connection is made, before it is reported.
    virtual void whenConnected() {}
    // Whether the connection is open once made; a kind that must first hear from the far end
    // says no, and calls finishOpening() when it has.
    virtual bool opensWhenConnected() const { return true; }
    // What came from the far end while connecting or open; by default, the line's bytes.
    virtual void incoming(std::string bytes);
    // Called when connecting ends without a connection, or is given up by close().
    virtual void whenNotConnecting() {}
    // Whether `error`, on an open connection, is its end.
    virtual bool endsTheConnection(SocketError) const {
        return socket_.state() != Socket::ConnectedState;
    }

    // Connecting failed for `why`; nothing if it was not under way.
    void failed(const QString& why);
    // The opening ends: the port is open.
    void finishOpening();
    // The open connection is over for `how`, told as a device that went away.
    void lostFor(const std::string& how);
    bool connecting() const { return connecting_; }

    Socket socket_;

  private:
    void connected();
    void lost();

    std::string name_;
    bool open_ = false;
    bool connecting_ = false;
};

}  // namespace pj
