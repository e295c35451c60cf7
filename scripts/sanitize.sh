#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (preset "asan",
# tree build-asan) and runs every test suite under them. Any sanitizer report fails its test.
# PJ_JOBS limits the parallel jobs (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${PJ_JOBS:-$(nproc)}"
bash scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"
