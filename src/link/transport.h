// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string_view>

#include "link/line_settings.h"
#include "link/serial_control.h"

namespace pj {

// One way of reaching a line: a serial device, or a serial device server on the network.
// Events are reported on a later turn of the event loop than the call that caused them, so a
// caller never meets its own request's end inside the request.
class Transport {
  public:
    using EventHandler = std::function<void(const CommEvent&)>;

    virtual ~Transport() = default;

    // Done, Failed, or UnderWay with an Opened or OpenFailed event to follow.
    virtual SerialResult open() = 0;
    // Closes the line, or gives up an opening under way. Never waits.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool opening() const { return false; }
    virtual SerialResult write(std::string_view bytes) = 0;
    virtual SerialResult applySettings(const LineParams& params) = 0;

    void setOnEvent(EventHandler handler) { onEvent_ = std::move(handler); }

  protected:
    void report(const CommEvent& event) const {
        if (onEvent_) {
            onEvent_(event);
        }
    }

  private:
    EventHandler onEvent_;
};

}  // namespace pj
