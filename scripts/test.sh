#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds everything and runs every test suite. Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPJ_WERROR=ON
cmake --build build -j"$(nproc)"
# The window tests run on Qt's offscreen platform: no display needed.
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$(nproc)"
