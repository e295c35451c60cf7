#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Measures the panel against the line's own limits, outside the test run: builds the
# micro-benchmarks (pjmicro) and the timing program (pjtiming), runs them, prints the figures
# against their targets and writes them into docs/PERFORMANCE.md (between its markers; the
# rest of that file is left as it is). Takes about five minutes after the build. It ends
# with pjctl timed against a Python script with pyserial (scripts/bench_ctl.sh), and a PJLink
# query through pjline beside the same query as a line exchange (scripts/bench_pjlink.sh).
# Usage: bench.sh
#        bench.sh --ctl-only [--runs N] [--bin DIR]
#        bench.sh --pjlink-only [--runs N] [--bin DIR]
#   --ctl-only     only the pjctl and pyserial comparison (well under a minute after the
#                  build): rewrites its own part of docs/PERFORMANCE.md and leaves the other
#                  figures as they are; the options after it go to bench_ctl.sh
#   --pjlink-only  the same for the PJLink query (bench_pjlink.sh)
# BENCH_JOBS sets the build's parallelism (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."

only=
case "${1:-}" in
    --ctl-only) only=ctl; shift ;;
    --pjlink-only) only=pjlink; shift ;;
    "") ;;
    *)
        echo "usage: $0 [--ctl-only|--pjlink-only [--runs N] [--bin DIR]]" >&2
        exit 2
        ;;
esac

begin='<!-- bench:begin -->'
end='<!-- bench:end -->'
ctl_begin='<!-- bench-ctl:begin -->'
ctl_end='<!-- bench-ctl:end -->'
pjlink_begin='<!-- bench-pjlink:begin -->'
pjlink_end='<!-- bench-pjlink:end -->'
doc=docs/PERFORMANCE.md

# Puts FILE in place of the lines between the marker lines FROM and TO of the page (the
# markers stay); says no if the page has not both.
replace_between() {
    local from=$1 to=$2 file=$3
    [[ -f "$doc" ]] && grep -qxF "$from" "$doc" && grep -qxF "$to" "$doc" || return 1
    awk -v from="$from" -v to="$to" -v file="$file" '
        $0 == from { print; while ((getline line < file) > 0) print line; skip = 1; next }
        $0 == to { skip = 0 }
        !skip { print }' "$doc" >"$work/doc.md"
    cp "$work/doc.md" "$doc"
}

# A page of its own with FILE between the markers, for when the page has none.
new_page() {
    {
        echo "# Performance"
        echo
        echo "$begin"
        cat "$1"
        echo "$end"
    } >"$doc"
}

work=$(mktemp -d)

# Puts FILE between the marker lines FROM and TO; on a page from before that section, the
# section goes in at the end of the generated part.
write_section() {
    local from=$1 to=$2 file=$3
    { echo "$from"; cat "$file"; echo "$to"; } >"$work/block.md"
    if replace_between "$from" "$to" "$file"; then
        :
    elif [[ -f "$doc" ]] && grep -qxF "$end" "$doc"; then
        awk -v to="$end" -v file="$work/block.md" '
            $0 == to { print ""; while ((getline line < file) > 0) print line }
            { print }' "$doc" >"$work/doc.md"
        cp "$work/doc.md" "$doc"
    else
        new_page "$work/block.md"
    fi
    echo
    echo "wrote $doc"
}

if [[ -n "$only" ]]; then
    trap 'rm -rf "$work"' EXIT
    if [[ "$only" == ctl ]]; then
        bash scripts/bench_ctl.sh "$@" --table "$work/section.md"
        write_section "$ctl_begin" "$ctl_end" "$work/section.md"
    else
        bash scripts/bench_pjlink.sh "$@" | tee "$work/section.md"
        write_section "$pjlink_begin" "$pjlink_end" "$work/section.md"
    fi
    exit 0
fi

bash scripts/install-deps.sh --gui
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-bench -j"${BENCH_JOBS:-$(nproc)}" \
    --target pjmicro pjtiming pjbarewindow pjpanel pjctl pjsim pjline >/dev/null
bin=build-bench/bin

xvfb_pid=
cleanup() {
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

# A virtual display of our own for the programs' windows: the first free one from :95 on.
display=95
while [[ -e "/tmp/.X11-unix/X$display" || -e "/tmp/.X$display-lock" ]]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [[ -e "/tmp/.X11-unix/X$display" ]] && break
    sleep 0.1
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)

echo "micro-benchmarks..." >&2
"$bin/pjmicro" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_format=csv >"$work/micro.csv" 2>"$work/micro.log"

echo "timing on the line and as processes (about four minutes)..." >&2
# Its progress and each run's figures (standard error) are shown and kept; the table
# (standard output) goes to a file.
DISPLAY=":$display" "$bin/pjtiming" --panel "$bin/pjpanel" --bare "$bin/pjbarewindow" \
    2>&1 >"$work/timing.md" | grep --line-buffered -v '^QStandardPaths' | tee "$work/timing.log" >&2

bash scripts/bench_ctl.sh --bin "$bin" --table "$work/ctl.md" >/dev/null
# A PJLink query through pjline beside one line exchange and pjctl, in the same run.
bash scripts/bench_pjlink.sh --bin "$bin" >"$work/pjlink.md"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(($(date +%s) - started))

# The micro-benchmarks' medians, per call, against the time one frame takes on the wire.
micro_table() {
    echo "| Benchmark | Per call (median of 5) | CPU per call | Share of a 4-byte frame at 19200 baud (2.08 ms) |"
    echo "|---|---|---|---|"
    awk -F, '
        function ns(value, unit) {
            return unit == "us" ? value * 1000 : unit == "ms" ? value * 1e6 : value
        }
        $1 ~ /_median"?$/ {
            name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
            real = ns($3, $5); cpu = ns($4, $5)
            printf "| %s | %.0f ns | %.0f ns | %.5f %% |\n", name, real, cpu, real / 2083333 * 100
        }' "$work/micro.csv"
}

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)
generated="$work/generated.md"
{
    echo "<!-- Written by scripts/bench.sh: everything down to the end marker is replaced on each run. -->"
    echo
    echo "Measured by \`bash scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') in ${elapsed} s:"
    echo "$(nproc) processors ($cpu), $(free -g | awk '/^Mem:/ {print $2}') GiB,"
    echo "$(uname -sr), Debian $(cat /etc/debian_version), Qt $qt."
    echo "Load average (1, 5, 15 min) before the run: $load_before; after: $load_after."
    echo
    echo "### Figures against their targets"
    echo
    cat "$work/timing.md"
    echo
    echo "### One send and one arrival in the core"
    echo
    micro_table
    echo
    echo "<details><summary>Each run's figures, as pjtiming printed them</summary>"
    echo
    echo '```text'
    cat "$work/timing.log"
    echo '```'
    echo
    echo "</details>"
    echo
    echo "$ctl_begin"
    cat "$work/ctl.md"
    echo "$ctl_end"
    echo
    echo "$pjlink_begin"
    cat "$work/pjlink.md"
    echo "$pjlink_end"
} >"$generated"

replace_between "$begin" "$end" "$generated" || new_page "$generated"

echo
cat "$work/timing.md"
echo
micro_table
echo
cat "$work/ctl.md"
echo
cat "$work/pjlink.md"
echo
echo "wrote $doc"
