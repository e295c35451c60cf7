// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <termios.h>

#include <optional>

#include "link/line_settings.h"
#include "link/serial_control.h"

namespace pj::posix {

// The termios speed of `baud`, when it is one the line can run at.
std::optional<speed_t> speedOf(int baud);
// The rate a termios speed stands for; 0 when it is none of those.
int baudOf(speed_t speed);

// Sets the terminal `fd` raw, as a serial line wants it: no echo, no translation, no flow
// control, every byte passed on as it comes, at the rate, parity, data and stop bits given.
// On a pseudo-terminal's master side it sets the line discipline the slave side shares.
// With the descriptor non-blocking, an empty line reads as EAGAIN, a hung-up one as 0.
// A failure carries the system's description.
SerialResult setRawLine(int fd, const LineParams& params);

}  // namespace pj::posix
