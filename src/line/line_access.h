// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pj::line {

// How a part of the line server that is not a client (the state poller, the MQTT commands)
// reaches the line: through the same queue as the clients' frames, so that nothing it sends
// interleaves with theirs and its answer is its own.
class LineAccess {
  public:
    // The answer to a frame: the bytes the line brought from the frame's writing up to and
    // including the first carriage return or ACK; nothing when neither came within the
    // window, or the frame could not be sent (the line is down).
    using Answer = std::function<void(const std::optional<std::string>& answer)>;

    virtual ~LineAccess() = default;

    // Queues `frame` (the command text with its address, without the carriage return, which
    // is added here) behind what the clients queued before it. It is written once the line
    // has settled, and the line is held for it until its answer ends or `windowMs` passes;
    // then `answer` is called, on a later turn than this call.
    virtual void transact(std::string frame, int windowMs, Answer answer) = 0;

    // True when no client has sent a frame for the line's quiet time: while an operator holds
    // a repeating button, the line is not quiet.
    virtual bool quiet() const = 0;

    // True while the line's device is open.
    virtual bool lineUp() const = 0;
};

}  // namespace pj::line
