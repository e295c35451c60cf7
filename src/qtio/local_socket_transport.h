// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QLocalSocket>

#include <string>

#include "qtio/stream_socket_transport.h"

namespace pj {

// A line server's local socket on QLocalSocket, named by its path. The bytes pass as they are:
// the panel hears the line as every client of the server does.
class LocalSocketTransport final : public StreamSocketTransport<QLocalSocket> {
  public:
    explicit LocalSocketTransport(std::string path);

  private:
    void connectSocket() override;
    void disconnectSocket() override;

    std::string path_;
};

}  // namespace pj
