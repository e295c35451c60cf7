#pragma once

#include <QLocalSocket>

#include <string>

#include "link/transport.h"

namespace pj {

// A line server's local socket on QLocalSocket. Nothing here waits: connecting is under way
// when open() returns and its end is reported; closing lets the bytes still on their way out
// go in the background. The far end closing the connection is reported as a device that went
// away. The bytes pass as they are, both ways; line settings are the line server's.
class LocalSocketTransport final : public Transport {
  public:
    explicit LocalSocketTransport(std::string path);
    ~LocalSocketTransport() override;
    LocalSocketTransport(const LocalSocketTransport&) = delete;
    LocalSocketTransport& operator=(const LocalSocketTransport&) = delete;

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

    std::string path_;
    QLocalSocket socket_;
    bool open_ = false;
    bool connecting_ = false;
};

}  // namespace pj
