#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Long runs against the simulator, outside the test run: a hold at the fastest repeat and
# an hour of status queries side by side, then 30 s of noise at the line's full rate and the
# processor time of waiting on a line that went away. Writes the figures into
# docs/RELIABILITY.md, between its soak markers (the rest of that page is left as it is).
# Usage: soak.sh [HOLD_MINUTES [QUERY_MINUTES]]   (default 10 and 60)
set -euo pipefail
cd "$(dirname "$0")/.."
hold_minutes="${1:-10}"
query_minutes="${2:-60}"

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target pjsoak >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The two runs go side by side, each on a line and a simulator of its own.
status=0
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
build/bin/pjsoak hold "$hold_minutes" >"$tmp/hold" 2>"$tmp/hold.err" &
hold_pid=$!
build/bin/pjsoak queries "$query_minutes" >"$tmp/queries" 2>"$tmp/queries.err" || status=1
wait "$hold_pid" || status=1
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
# Then, one at a time, what a busy panel and an idle one cost.
noise_load_before=$(cut -d' ' -f1-3 /proc/loadavg)
build/bin/pjsoak noise 30 >"$tmp/noise" 2>&1 || status=1
build/bin/pjsoak idle 10 >"$tmp/idle" 2>&1 || status=1
noise_load_after=$(cut -d' ' -f1-3 /proc/loadavg)
hold=$(cat "$tmp/hold")
queries=$(cat "$tmp/queries")
noise=$(grep '^noise ' "$tmp/noise" || true)
idle=$(grep '^idle ' "$tmp/idle" || true)
echo "$hold"
echo "$queries"
echo "$noise"
echo "$idle"
cat "$tmp/hold.err" "$tmp/queries.err" >&2


field() { sed -n "1s/.*\b$2=\([^ ]*\).*/\1/p" <<<"$1"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
    echo "<!-- Written by scripts/soak.sh: everything down to the end marker is replaced on each run. -->"
    echo
    echo "Measured by \`bash scripts/soak.sh $hold_minutes $query_minutes\` on $(date -u +%Y-%m-%d):"
    echo "$(nproc) cores ($cpu), $(free -g | awk '/^Mem:/ {print $2}') GiB, $(uname -sr),"
    echo "Debian $(cat /etc/debian_version), Qt $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null)."
    echo "The panel's core runs on the real serial path (QSerialPort, QTimer) against the"
    echo "simulator on a pseudo-terminal, in one process; the hold and the queries run side by"
    echo "side, each with a line of its own. Load average (1, 5, 15 min) before: $load_before;"
    echo "after: $load_after."
    echo
    echo "## Hold at the fastest repeat"
    echo
    echo "The cursor pad after a digital-zoom release repeats every 5 ms; unaddressed frames"
    echo "at 19200 baud take 2.1 ms, so every repeat goes out. Ideal = 1 + held time / 5 ms."
    echo
    echo "| Figure | Value | Bound |"
    echo "|---|---|---|"
    echo "| held | $(field "$hold" held_ms) ms | |"
    echo "| frames received by the simulator | $(field "$hold" frames) | |"
    echo "| ideal | $(field "$hold" ideal) | |"
    echo "| error | $(field "$hold" error_pct) % | within 1 % |"
    echo "| resident memory at the press | $(field "$hold" rss_start_kb) kB | |"
    echo "| peak during the hold | $(field "$hold" rss_peak_kb) kB | |"
    echo "| growth by the end | $(field "$hold" rss_growth_kb) kB | flat (< 4 MB) |"
    echo
    echo "## One status query a second"
    echo
    echo "The six query buttons in turn, one a second. Each reply is read as soon as its"
    echo "carriage return is in; it is lost if the reply window (500 ms) ends first. Each"
    echo "readout must match the first readout of the same query."
    echo
    echo "| Figure | Value | Bound |"
    echo "|---|---|---|"
    echo "| queries sent | $(field "$queries" sent) | |"
    echo "| answered | $(field "$queries" answered) | all |"
    echo "| lost | $(field "$queries" lost) | 0 |"
    echo "| mis-decoded | $(field "$queries" misdecoded) | 0 |"
    echo "| query to complete reply, p50 / p99 / max | $(field "$queries" reply_p50_ms) / $(field "$queries" reply_p99_ms) / $(field "$queries" reply_max_ms) ms | within the 500 ms window |"
    echo "| resident memory at the start / peak | $(field "$queries" rss_start_kb) / $(field "$queries" rss_peak_kb) kB | |"
    echo
    echo "Readouts seen:"
    echo
    echo '```'
    sed -n '2,$p' <<<"$queries"
    echo '```'
    if [[ -s "$tmp/queries.err" ]]; then
        echo
        echo "Queries that went wrong:"
        echo
        echo '```'
        cat "$tmp/queries.err"
        echo '```'
    fi
    echo
    echo "## Noise at the line's full rate"
    echo
    echo "The simulator sends random bytes at 19200 baud (1900 a second) for 30 s; after five"
    echo "seconds, \"POWER\" \"ON\" is clicked once a second. A 20 ms probe timer in the"
    echo "panel's event loop shows how late a busy panel runs. Run alone, after the runs above;"
    echo "load average before: $noise_load_before; after: $noise_load_after."
    echo
    echo "| Figure | Value | Bound |"
    echo "|---|---|---|"
    echo "| clicks / frames received by the simulator | $(field "$noise" clicks) / $(field "$noise" frames) | equal |"
    echo "| processor time over the last 25 s | $(field "$noise" cpu_s) s ($(field "$noise" cpu_pct) % of a core) | < 30 % |"
    echo "| event loop lateness, p99 / worst | $(field "$noise" lateness_p99_ms) / $(field "$noise" lateness_max_ms) ms | p99 < 20 ms |"
    echo "| resident memory growth | $(field "$noise" rss_growth_kb) kB | < 2 MB |"
    echo "| receive buffer at the end | $(field "$noise" rx_buffer) bytes | at most 1024 |"
    echo
    echo "## Waiting"
    echo
    echo "10 s each: the simulator on a terminal whose opener hung up, and the panel on a line"
    echo "that went away (it tries the port again every second)."
    echo
    echo "| Figure | Value | Bound |"
    echo "|---|---|---|"
    echo "| simulator, hung-up terminal | $(field "$idle" simulator_hung_up_cpu_pct) % of a core | < 10 % |"
    echo "| panel, line gone | $(field "$idle" panel_dead_line_cpu_pct) % of a core | < 10 % |"
} >"$tmp/generated.md"

# The generated part goes between the markers; a page without them is started anew.
begin='<!-- soak:begin -->'
end='<!-- soak:end -->'
doc=docs/RELIABILITY.md
if [[ -f "$doc" ]] && grep -qxF "$begin" "$doc" && grep -qxF "$end" "$doc"; then
    awk -v from="$begin" -v to="$end" -v file="$tmp/generated.md" '
        $0 == from { print; while ((getline line < file) > 0) print line; skip = 1; next }
        $0 == to { skip = 0 }
        !skip { print }' "$doc" >"$tmp/doc.md"
    cp "$tmp/doc.md" "$doc"
else
    { echo "# Reliability figures"; echo; echo "$begin"; cat "$tmp/generated.md"; echo "$end"; } >"$doc"
fi
echo "wrote $doc"
exit "$status"
