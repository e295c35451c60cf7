#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Times a PJLink query through pjline beside the same query as one line exchange and as
# `pjctl query`, in the same run, on the simulator (bench/pjlink_query.py), and prints the
# section of docs/PERFORMANCE.md that says so. bench.sh calls it; on its own it takes well
# under a minute after the build.
# Usage: bench_pjlink.sh [--runs N] [--bin DIR]
#   --runs N   timed runs of each way (default 200)
#   --bin DIR  take pjline, pjctl and pjsim from DIR (default build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=200
bin=build/bin
while (($#)); do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --bin) bin=$2; shift 2 ;;
        *) echo "usage: $0 [--runs N] [--bin DIR]" >&2; exit 2 ;;
    esac
done
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$bin/pjsim" --link "$work/tty" --projectors 1,2 >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -e "$work/tty" ]] && break; sleep 0.05; done
"$bin/pjline" --name bench --device "$work/tty" --socket "$work/line.sock" --projectors 1,2 \
    --pjlink "1=$port" 2>"$work/line.log" &
pids+=($!)
for _ in $(seq 100); do grep -q "PJLink clients reach" "$work/line.log" && break; sleep 0.05; done
load=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
python3 bench/pjlink_query.py "$port" "$work/line.sock" "$bin/pjctl" "$runs" >"$work/table.md"
cat <<EOF
### A PJLink query through pjline, beside one line exchange and pjctl

One status query three ways through the same pjline and simulator (two projectors), in turns:
\`%1POWR ?\` on an open PJLink connection to projector 1, the frame it becomes (\`A001CR0\`)
written by a raw client on pjline's local socket, and \`pjctl query status\` as a whole
process. Every answer is checked. The PJLink query's cost over the line exchange is the
face's own: the line, the queue and the simulator are the same for both. Its target: at
most 10 ms over the line exchange at p99.
Measured on $(date -u '+%Y-%m-%d %H:%M UTC') in $(($(date +%s) - started)) s, $(nproc) processors;
load average (1, 5, 15 min) before: $load; after: $(cut -d' ' -f1-3 /proc/loadavg).

EOF
cat "$work/table.md"
