#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets (preset "fuzz", tree build-fuzz, clang) and runs each for a
# bounded time on a copy of its seed corpus in fuzz/corpus/; the seeds in the repository are
# never changed. Fails on the first crash, broken invariant, leak or sanitizer report; the
# input that caused it is kept in build-fuzz/artifacts/<target>/.
# Usage: fuzz.sh [seconds-per-target]   (default 30; PJ_JOBS limits the build's parallel jobs)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi
jobs="${PJ_JOBS:-$(nproc)}"
targets=(fuzz_echo fuzz_decode fuzz_receive fuzz_sim_parser fuzz_line_log fuzz_line_wire fuzz_hub fuzz_pjlink)

# The fuzzing engine comes with clang's runtime, which the ordinary build does not need.
bash scripts/install-deps.sh --fuzz

cmake --preset fuzz
cmake --build --preset fuzz -j"$jobs"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for target in "${targets[@]}"; do
    corpus="$work/$target"
    artifacts="build-fuzz/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/"$target"/* "$corpus"/
    echo "== $target: ${seconds}s"
    # libFuzzer runs every seed first, then mutates; it exits non-zero on any finding.
    if ! "build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" 2>"$work/$target.log"; then
        tail -n 60 "$work/$target.log" >&2
        echo "$target failed; the input is in $artifacts" >&2
        exit 1
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
        "$work/$target.log" || true
    echo "   corpus: $(find "$corpus" -type f | wc -l) inputs from $(find "fuzz/corpus/$target" -type f | wc -l) seeds"
done
echo "All fuzz targets ran ${seconds}s each without a finding."
