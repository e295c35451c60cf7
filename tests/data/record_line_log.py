#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Records a line log of pjctl talking to pjsim, for the replay's regression test.

Sits on the line between the two: pjctl opens a pseudo-terminal of this script's, whose
bytes are passed on to pjsim's terminal and back. Every frame pjctl writes is logged as an
"out" record when its carriage return comes through, every arrival from pjsim as an "in"
record as it came, each with the time since the log began.

    python3 tests/data/record_line_log.py build/bin/pjsim build/bin/pjctl OUT.jsonl

The simulator answers 80 ms late, in pieces of three bytes 15 ms apart; the session is a
status query, power on, a lamp-time query and a command the projector does not know.
"""
import datetime
import json
import os
import select
import subprocess
import sys
import threading
import time
import tty

SIM_OPTIONS = ["--delay", "80", "--split", "3", "--gap", "15"]
SESSION = [["query", "status"], ["send", "C00"], ["query", "lamp-time"], ["send", "C99"]]


def ascii_text(data):
    out = []
    for b in data:
        c = chr(b)
        if c in '\r\n\t"\\':
            out.append({"\r": "\\r", "\n": "\\n", "\t": "\\t", '"': '\\"', "\\": "\\\\"}[c])
        elif b < 0x20 or b >= 0x7F:
            out.append("\\u%04X" % b)
        else:
            out.append(c)
    return '"' + "".join(out) + '"'


def record(seconds, direction, data):
    ms = seconds * 1000.0
    hexed = " ".join("%02X" % b for b in data)
    return '{"ms":%.3f,"dir":"%s","hex":"%s","ascii":%s}' % (ms, direction, hexed,
                                                           ascii_text(data))


def main(sim, ctl, out_path):
    projector = subprocess.Popen([sim] + SIM_OPTIONS, stdout=subprocess.PIPE, text=True)
    far_path = projector.stdout.readline().strip()
    far = os.open(far_path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(far)
    panel, panel_slave = os.openpty()  # the slave stays open, so pjctl's close is no hang-up
    tty.setraw(panel_slave)
    port = os.ttyname(panel_slave)

    start = time.monotonic()
    lines = [json.dumps({"log": "pjpanel line log", "version": 1, "program": "pjctl",
                         "port": port, "baud": 19200,
                         "started": datetime.datetime.now(datetime.timezone.utc)
                         .strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"},
                        separators=(",", ":"))]
    stop = threading.Event()

    def tap():
        frame = b""
        while not stop.is_set():
            ready, _, _ = select.select([panel, far], [], [], 0.05)
            if panel in ready:
                data = os.read(panel, 4096)
                at = time.monotonic()
                os.write(far, data)
                frame += data
                while b"\r" in frame:
                    whole, frame = frame.split(b"\r", 1)
                    lines.append(record(at - start, "out", whole + b"\r"))
            if far in ready:
                data = os.read(far, 4096)
                at = time.monotonic()
                os.write(panel, data)
                lines.append(record(at - start, "in", data))

    tapping = threading.Thread(target=tap)
    tapping.start()
    for args in SESSION:
        done = subprocess.run([ctl, "--port", port] + args, capture_output=True, text=True)
        print(" ".join(args), "->", repr(done.stdout), done.returncode)
    stop.set()
    tapping.join()
    projector.terminate()
    projector.wait()
    with open(out_path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:4])
