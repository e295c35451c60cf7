#!/usr/bin/env bash
# Long runs against the simulator, outside the test run: a hold at the fastest repeat and
# an hour of status queries. Writes the figures to docs/RELIABILITY.md.
# Usage: soak.sh [HOLD_MINUTES [QUERY_MINUTES]]   (default 10 and 60)
set -euo pipefail
cd "$(dirname "$0")/.."
hold_minutes="${1:-10}"
query_minutes="${2:-60}"

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target pjsoak >/dev/null

status=0
hold=$(build/bin/pjsoak hold "$hold_minutes") || status=1
echo "$hold"
queries=$(build/bin/pjsoak queries "$query_minutes") || status=1
echo "$queries"

field() { sed -n "1s/.*\b$2=\([^ ]*\).*/\1/p" <<<"$1"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
    echo "# Reliability figures"
    echo
    echo "Measured by \`bash scripts/soak.sh $hold_minutes $query_minutes\` on $(date -u +%Y-%m-%d):"
    echo "$(nproc) cores ($cpu), $(free -g | awk '/^Mem:/ {print $2}') GiB, $(uname -sr),"
    echo "Debian $(cat /etc/debian_version), Qt $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null)."
    echo "The panel's core runs on the real serial path (QSerialPort, QTimer) against the"
    echo "simulator on a pseudo-terminal, in one process."
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
    echo "The six query buttons in turn, one a second; each reply is read 400 ms after the"
    echo "query, and each readout must match the first readout of the same query."
    echo
    echo "| Figure | Value | Bound |"
    echo "|---|---|---|"
    echo "| queries sent | $(field "$queries" sent) | |"
    echo "| answered | $(field "$queries" answered) | all |"
    echo "| lost | $(field "$queries" lost) | 0 |"
    echo "| mis-decoded | $(field "$queries" misdecoded) | 0 |"
    echo "| resident memory at the start / peak | $(field "$queries" rss_start_kb) / $(field "$queries" rss_peak_kb) kB | |"
    echo
    echo "Readouts seen:"
    echo
    echo '```'
    sed -n '2,$p' <<<"$queries"
    echo '```'
} > docs/RELIABILITY.md
echo "wrote docs/RELIABILITY.md"
exit "$status"
