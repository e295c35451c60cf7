#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Each program's --version: "NAME VERSION" and exit 0, with no display to reach (the panel
# must not start its window system for it) and no port to open.
# Usage: version_test.sh VERSION PROGRAM...
set -uo pipefail
version=$1
shift

failures=0
for program in "$@"; do
    name=$(basename "$program")
    got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version 2>&1)
    status=$?
    if [[ $status -ne 0 || $got != "$name $version" ]]; then
        echo "FAIL: $name --version said \"$got\" (exit $status), not \"$name $version\" (exit 0)"
        ((failures++))
    fi
done
((failures == 0))
