#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, and starts the panel on a simulated projector.
# With no display it runs the panel on a virtual one, clicks "ON" in "POWER" as an operator
# would, and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --gui
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target pjpanel pjsim

link="${TMPDIR:-/tmp}/pjpanel-demo-line"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# The simulator serves one end of a pseudo-terminal pair and logs every frame it takes
# and every answer it gives; the panel opens the other end as its port 1.
build/bin/pjsim --link "$link" --verbose &
pids+=($!)
for _ in $(seq 50); do [[ -e "$link" ]] && break; sleep 0.1; done

if [[ -z "${DISPLAY:-}" ]]; then
    export DISPLAY=:97
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    build/bin/pjpanel --port1 "$link" &
    pids+=($!)
    # Ctrl+K shows the data band; "ON" in "POWER" has the focus, and Space clicks it.
    window=$(xdotool search --sync --name "VORN" | head -1)
    xdotool key --window "$window" ctrl+k
    sleep 0.3
    xdotool key --window "$window" space
    sleep 0.3
    shot="${TMPDIR:-/tmp}/pjpanel-demo.png"
    import -window "$window" "$shot"
    echo "No display here: ran the panel on a virtual display, pressed Ctrl+K and \"ON\" in"
    echo "\"POWER\"; the simulator's log above shows the frame and its answer."
    echo "Screenshot: $shot"
else
    echo "Click a button (\"ON\" in \"POWER\", say): the simulator's log below shows the"
    echo "frame going out and its answer coming back. Close the window or press END to stop."
    build/bin/pjpanel --port1 "$link"
fi
