// SPDX-License-Identifier: Apache-2.0
#include "qtio/local_socket_transport.h"

#include <vector>

#include "link/port_target.h"

namespace pj {

LocalSocketTransport::LocalSocketTransport(std::string path)
    : StreamSocketTransport(path), path_(std::move(path)) {
    greetingTimeout_.setSingleShot(true);
    greetingTimeout_.setInterval(kGreetingTimeoutMs);
    QObject::connect(&greetingTimeout_, &QTimer::timeout, &socket_,
                     [this] { failed(QStringLiteral("the line server did not greet")); });
}

void LocalSocketTransport::connectSocket() {
    socket_.connectToServer(QString::fromStdString(path_));
}

void LocalSocketTransport::disconnectSocket() {
    socket_.disconnectFromServer();
}

void LocalSocketTransport::whenConnected() {
    const std::string hello = wire::hello(wire::freshNonce());
    reader_ = std::make_unique<wire::ClientReader>(hello);
    socket_.write(hello.data(), static_cast<qint64>(hello.size()));
    socket_.flush();
    greetingTimeout_.start();
}

void LocalSocketTransport::whenNotConnecting() {
    greetingTimeout_.stop();
}

void LocalSocketTransport::incoming(std::string bytes) {
    if (!reader_) {
        return;
    }
    std::vector<wire::Record> records;
    const bool whole = reader_->take(bytes, records);
    if (connecting() && reader_->greeted()) {
        greetingTimeout_.stop();
        finishOpening();
    }
    std::string line;
    for (const wire::Record& record : records) {
        if (record.type == wire::RecordType::Data) {
            line += record.payload;
        } else if (const auto why = wire::messageArgument(record.payload, wire::kLost)) {
            StreamSocketTransport::incoming(std::move(line));
            lostFor(std::string(kLineServerSays) + (why->empty()
                                                        ? std::string("the line's device went away")
                                                        : std::string(*why)));
            return;
        }
    }
    if (!line.empty()) {
        StreamSocketTransport::incoming(std::move(line));
    }
    if (!whole) {
        lostFor(std::string(kLineServerSays) + "its records make no sense");
    }
}

SerialResult LocalSocketTransport::write(std::string_view bytes) {
    return StreamSocketTransport::write(wire::dataRecord(bytes));
}

}  // namespace pj
