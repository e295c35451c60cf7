#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Times one status query by pjctl against the same query by a short Python script with
# pyserial (bench/pyserial_query.py), each as a whole process from fork to exit, on the
# simulator's pseudo-terminal. The two programs take turns (the order swaps every round), so
# load on the machine falls on both alike. Every run's exit status and output are checked:
# one run without the expected answer fails the whole measurement.
# Prints a Markdown section with the medians and their ratio on standard output (and into
# FILE with --table), progress on standard error. bench.sh calls it; on its own it takes
# well under a minute after the build.
# Usage: bench_ctl.sh [--runs N] [--bin DIR] [--table FILE]
#   --runs N      timed runs of each program (default 50), after one untimed warm-up each
#   --bin DIR     take pjctl and pjsim from DIR instead of building them in build-bench/
#   --table FILE  also write the section to FILE
# BENCH_JOBS sets the build's parallelism (default: the number of processors).
set -euo pipefail
export LC_ALL=C  # EPOCHREALTIME with a decimal point
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 [--runs N] [--bin DIR] [--table FILE]" >&2; exit 2; }
runs=50
bin=
table=
while (($#)); do
    case "$1" in
        --runs) [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]*$ ]] || usage; runs=$2; shift 2 ;;
        --bin) [[ $# -ge 2 ]] || usage; bin=$2; shift 2 ;;
        --table) [[ $# -ge 2 ]] || usage; table=$2; shift 2 ;;
        *) usage ;;
    esac
done

fail() { echo "bench_ctl: $*" >&2; exit 1; }

bash scripts/install-deps.sh --pyserial
if [[ -z "$bin" ]]; then
    echo "building pjctl and pjsim in build-bench..." >&2
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-bench -j"${BENCH_JOBS:-$(nproc)}" --target pjctl pjsim >/dev/null
    bin=build-bench/bin
fi
ctl="$bin/pjctl"
sim="$bin/pjsim"
for program in "$ctl" "$sim"; do
    [[ -x "$program" ]] || fail "$program is missing or not executable"
done
# Debian's own interpreter, the one python3-serial installs into (a python3 found first on
# PATH may be another one, or a wrapper script that would add its own start-up to the time).
python=/usr/bin/python3
script=bench/pyserial_query.py
"$python" -c 'import serial' 2>/dev/null || fail "$python cannot import serial (python3-serial)"

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [[ -n "$sim_pid" ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator on a fresh pseudo-terminal; its link appears once the terminal is served.
port="$work/projector"
"$sim" --link "$port" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do
    [[ -L "$port" ]] && break
    kill -0 "$sim_pid" 2>/dev/null || fail "pjsim exited before serving the line: $(cat "$work/sim.err")"
    sleep 0.025
done
[[ -L "$port" ]] || fail "pjsim made no link at $port within 5 s"

# What the simulator answers to CR0 as it starts (power state "00"), and the readout pjctl
# prints for it, as the window's STATUS line shows it.
printf '00\r' >"$work/expected.py"
printf ' Power ON\n' >"$work/expected.ctl"

ctl_cmd=("$ctl" --port "$port" query status)
py_cmd=("$python" "$script" "$port")

# Runs one program once with its output to files, checks it, and appends its wall time in
# microseconds to $work/NAME.us (unless told not to keep it). The clock is read by the shell
# itself (no process of its own), just before the fork and just after the wait.
run_one() {
    local name=$1 keep=$2
    shift 2
    local start end status=0
    start=$EPOCHREALTIME
    "$@" >"$work/$name.stdout" 2>"$work/$name.stderr" || status=$?
    end=$EPOCHREALTIME
    if ((status != 0)) || ! cmp -s "$work/$name.stdout" "$work/expected.$name"; then
        echo "bench_ctl: $name run gave no or the wrong answer (exit status $status): $*" >&2
        # As cat -A shows them: ^M a carriage return, $ the end of a line.
        echo "  expected: [$(cat -A "$work/expected.$name")]" >&2
        echo "  got:      [$(cat -A "$work/$name.stdout")]" >&2
        sed 's/^/  stderr:   /' "$work/$name.stderr" >&2
        exit 1
    fi
    if [[ "$keep" == keep ]]; then
        echo $((${end/./} - ${start/./})) >>"$work/$name.us"
    fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$EPOCHREALTIME
echo "one status query, pjctl and pyserial in turn, $runs runs each..." >&2
run_one ctl warmup "${ctl_cmd[@]}"
run_one py warmup "${py_cmd[@]}"
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
        run_one ctl keep "${ctl_cmd[@]}"
        run_one py keep "${py_cmd[@]}"
    else
        run_one py keep "${py_cmd[@]}"
        run_one ctl keep "${ctl_cmd[@]}"
    fi
done
elapsed_ms=$(((${EPOCHREALTIME/./} - ${started/./}) / 1000))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
kill -0 "$sim_pid" 2>/dev/null || fail "pjsim died during the runs: $(cat "$work/sim.err")"

for name in ctl py; do
    count=$(wc -l <"$work/$name.us")
    ((count == runs)) || fail "$name: $count timed runs recorded, $runs expected"
done

# Median (the mean of the middle two for an even count), quartiles and extremes, in ms.
stats() {
    sort -n "$1" | awk '
        { v[NR] = $1 }
        function rank(p,   r) { r = int(p * NR + 0.999999); return v[r < 1 ? 1 : r] }
        END {
            median = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.1f %.1f %.1f %.1f %.1f\n", median / 1000, rank(0.25) / 1000,
                   rank(0.75) / 1000, v[1] / 1000, v[NR] / 1000
        }'
}
read -r ctl_med ctl_p25 ctl_p75 ctl_min ctl_max < <(stats "$work/ctl.us")
read -r py_med py_p25 py_p75 py_min py_max < <(stats "$work/py.us")
ratio=$(awk -v p="$py_med" -v c="$ctl_med" 'BEGIN { printf "%.2f", p / c }')
python_version=$("$python" -c 'import platform; print(platform.python_version())')
pyserial_version=$("$python" -c 'import serial; print(serial.__version__)')
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)

section="$work/section.md"
{
    echo "### pjctl against a Python script with pyserial: one status query, as whole processes"
    echo
    echo "Each run is one process from fork to exit, timed by the shell:"
    echo "\`$ctl --port PTY query status\` and \`$python $script PTY\`"
    echo "(Python $python_version, pyserial $pyserial_version), on the simulator's pseudo-terminal."
    echo "Both open the port at 19200 baud 8N1, write \`CR0\` and a carriage return and wait for"
    echo "the reply (at most the 500 ms reply window). $runs runs of each after one warm-up, in"
    echo "turns whose order swaps every round; every run is checked for its answer"
    echo "(\` Power ON\` from pjctl, \`00\` and a carriage return from the script)."
    echo "Measured on $(date -u '+%Y-%m-%d %H:%M UTC') in $(awk -v ms="$elapsed_ms" \
        'BEGIN { printf "%.1f", ms / 1000 }') s, $(nproc) processors ($cpu);"
    echo "load average (1, 5, 15 min) before: $load_before; after: $load_after."
    echo
    echo "| Program | Runs | Median | p25 – p75 | Min – max |"
    echo "|---|---|---|---|---|"
    echo "| pjctl | $runs | $ctl_med ms | $ctl_p25 – $ctl_p75 | $ctl_min – $ctl_max |"
    echo "| Python with pyserial | $runs | $py_med ms | $py_p25 – $py_p75 | $py_min – $py_max |"
    echo "| Python / pjctl, medians | | $ratio × | | |"
} >"$section"

if [[ -n "$table" ]]; then
    cp "$section" "$table"
fi
cat "$section"
