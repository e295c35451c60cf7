#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""One status query (CR0) on a serial port with pyserial, the way a script would do it
without pjctl: the yardstick for `pjctl --port PORT query status` in scripts/bench_ctl.sh.

Opens PORT at 19200 baud 8N1, writes "CR0" and a carriage return, reads until the reply is
complete (it ends in a carriage return, or in an ACK as a bare ACK does: the rule pjctl
uses) or the 500 ms reply window has passed, and writes the reply's bytes as they came to
standard output. Exit status: 0 a complete reply, 4 none or an incomplete one within the
window (as pjctl's 4), 3 the port would not open.

Usage: pyserial_query.py PORT
"""

import sys
import time

import serial

ACK = b"\x06"
CR = b"\r"
REPLY_WINDOW_S = 0.5


def complete(reply: bytes) -> bool:
    return reply.endswith(CR) or reply.endswith(ACK)


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: pyserial_query.py PORT", file=sys.stderr)
        return 2
    port = sys.argv[1]
    try:
        line = serial.Serial(port, baudrate=19200, bytesize=serial.EIGHTBITS,
                             parity=serial.PARITY_NONE, stopbits=serial.STOPBITS_ONE,
                             timeout=REPLY_WINDOW_S)
    except serial.SerialException as error:
        print(f"cannot open {port}: {error}", file=sys.stderr)
        return 3
    with line:
        line.write(b"CR0" + CR)
        deadline = time.monotonic() + REPLY_WINDOW_S
        reply = b""
        while not complete(reply):
            left = deadline - time.monotonic()
            if left <= 0:
                break
            line.timeout = left
            # Whatever has arrived, or wait for the next byte until the window ends.
            reply += line.read(max(1, line.in_waiting))
    sys.stdout.buffer.write(reply)
    sys.stdout.buffer.flush()
    if not complete(reply):
        print(f"{port}: no complete reply within {REPLY_WINDOW_S * 1000:.0f} ms "
              f"(got {reply!r})", file=sys.stderr)
        return 4
    return 0


if __name__ == "__main__":
    sys.exit(main())
