#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Takes docs/screenshot.png: the real window at full height on a virtual display, connected
# to the simulator, with a decoded status showing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --gui
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target pjpanel pjsim >/dev/null

link="${TMPDIR:-/tmp}/pjpanel-shot-line"
export DISPLAY=:98
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
build/bin/pjsim --link "$link" >/dev/null &
pids+=($!)
sleep 1
build/bin/pjpanel --port1 "$link" &
pids+=($!)
window=$(xdotool search --sync --name "VORN" | head -1)
sleep 0.5

# Ctrl+K, then a double-click on the picture at the top right: the full window.
xdotool key --window "$window" ctrl+k
sleep 0.3
xdotool mousemove --window "$window" 584 21 click --repeat 2 --delay 80 1
sleep 0.3
# "STATUS" in the data band; the picture is taken while the decoded readout shows.
xdotool mousemove --window "$window" 464 384 click 1
sleep 0.3
mkdir -p docs
import -window "$window" docs/screenshot.png
echo "docs/screenshot.png"
