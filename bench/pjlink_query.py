#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# One status query three ways through the same pjline, in turns, so that load falls on all
# alike: "POWR ?" on an open PJLink connection; the same CR0 frame written by a raw client on
# pjline's local socket (one line exchange); and `pjctl query status` as a whole process.
# Every answer is checked. Prints a Markdown table of the medians and 99th percentiles.
# Usage: pjlink_query.py PJLINK_PORT SOCKET PJCTL RUNS
import socket
import statistics
import subprocess
import sys
import time

port, sock_path, pjctl, runs = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])


def read_line(s):
    data = b""
    while not data.endswith(b"\r"):
        chunk = s.recv(1)
        if not chunk:
            raise SystemExit("connection closed")
        data += chunk
    return data


pj = socket.create_connection(("127.0.0.1", port))
if read_line(pj) != b"PJLINK 0\r":
    raise SystemExit("expected a PJLink greeting without authentication")
raw = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
raw.connect(sock_path)

times = {"pjlink": [], "raw": [], "pjctl": []}


def pjlink_query():
    pj.sendall(b"%1POWR ?\r")
    if read_line(pj) != b"%1POWR=1\r":
        raise SystemExit("unexpected PJLink answer")


def drain_raw():
    # A raw client hears every answer on the line, the others' too: what they brought is read
    # away before its own query is timed.
    raw.settimeout(0.005)
    try:
        while raw.recv(4096):
            pass
    except (BlockingIOError, socket.timeout):
        pass
    raw.settimeout(None)


def raw_query():
    raw.sendall(b"A001CR0\r")
    if read_line(raw) != b"00\r":
        raise SystemExit("unexpected line answer")


def pjctl_query():
    out = subprocess.run([pjctl, "--port", "unix:" + sock_path, "--address", "1", "query",
                          "status"], capture_output=True, text=True, check=True).stdout
    if "Power ON" not in out:
        raise SystemExit("unexpected pjctl answer: " + out)


ways = [("pjlink", pjlink_query), ("raw", raw_query), ("pjctl", pjctl_query)]
for name, query in ways:  # one untimed warm-up each
    query()
for run in range(runs):
    for name, query in ways[run % 3:] + ways[:run % 3]:
        if name == "raw":
            drain_raw()
        start = time.perf_counter()
        query()
        times[name].append((time.perf_counter() - start) * 1000)


def p99(values):
    return statistics.quantiles(values, n=100)[98] if len(values) >= 2 else values[0]


print("| Query (through pjline, %d runs each) | median ms | p99 ms |" % runs)
print("|---|---|---|")
labels = {"pjlink": "PJLink `POWR ?` on an open connection",
          "raw": "the CR0 frame by a raw client (one line exchange)",
          "pjctl": "`pjctl query status`, the whole process"}
for name in ("pjlink", "raw", "pjctl"):
    print("| %s | %.2f | %.2f |" % (labels[name], statistics.median(times[name]),
                                     p99(times[name])))
print()
print("PJLink over the line exchange: %+.2f ms at the median, %+.2f ms at p99." %
      (statistics.median(times["pjlink"]) - statistics.median(times["raw"]),
       p99(times["pjlink"]) - p99(times["raw"])))
