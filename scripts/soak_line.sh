#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The shared line's long run: the panel's core holding zoom +, a pjctl loop on the local
# socket and a raw TCP client typing its frames a byte at a time, all through pjline, for
# SECONDS (default 600). Prints the hold's period alone and shared, the pjctl queries and the
# raw frames; fails on an interleaved frame, a lost or wrong pjctl reply, or a hold that lost
# its period. Usage: soak_line.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds]" >&2
    exit 2
fi
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target pjline_tests pjline pjctl
PJ_SHARE_SECONDS="$seconds" build/bin/pjline_tests \
    --gtest_filter='PjlineOnLine.SoakTheHoldKeepsItsPeriodOnASharedLine'
