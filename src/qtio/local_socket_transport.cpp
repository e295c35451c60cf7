// SPDX-License-Identifier: Apache-2.0
#include "qtio/local_socket_transport.h"

namespace pj {

LocalSocketTransport::LocalSocketTransport(std::string path)
    : StreamSocketTransport(path), path_(std::move(path)) {}

void LocalSocketTransport::connectSocket() {
    socket_.connectToServer(QString::fromStdString(path_));
}

void LocalSocketTransport::disconnectSocket() {
    socket_.disconnectFromServer();
}

}  // namespace pj
