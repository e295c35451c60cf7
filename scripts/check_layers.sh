#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fails when a folder of src/ includes a header of a folder above it. Each folder may include
# its own headers and those of the folders below it, and no others:
#
#   core       the interfaces every part uses: clock, timers, the window, its control ids
#   protocol   frames, addresses, the command tables, reply windows, the echo text
#   status     the status replies: their queries, readouts and values
#   link       the line: ports, transports, pacing, the line log
#   projector  the vocabulary for programs: commands by name, the line session
#   panel      the window's parts: the transaction, port panel, buttons, repeats, views
#   app        the form that assembles the window's parts
#   posix      the line on poll(2)    (pjposix, over core to projector)
#   qtio       the line on Qt         (pjqtio, over the whole core and posix)
#   shell      the window's widgets   (pjshell, over qtio, posix and the whole core)
#   sim        the simulator          (pjsimlib, over posix and core to projector)
#   ctl, line  pjctl and pjline       (over posix and core to projector)
#
# The programs other than the window reach the projector through core to projector only:
# commands by name and state as values, never the window's parts.
# Usage: check_layers.sh [SRC_DIR]   (default: the src/ of this tree)
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}

programs="core protocol status link projector"
window="$programs panel app"
declare -A below=(
    [core]=""
    [protocol]="core"
    [status]="core protocol"
    [link]="core protocol status"
    [projector]="core protocol status link"
    [panel]="$programs"
    [app]="$programs panel"
    [posix]="$programs"
    [qtio]="$window posix"
    [shell]="$window posix qtio"
    [sim]="$programs posix"
    [ctl]="$programs posix"
    [line]="$programs posix"
)

status=0
for dir in "$src"/*/; do
    folder=$(basename "$dir")
    if [[ -z "${below[$folder]+set}" ]]; then
        echo "check_layers: src/$folder has no place in the layers; give it one here" >&2
        status=1
        continue
    fi
    allowed=" $folder ${below[$folder]} "
    while IFS=: read -r file line target; do
        wanted=${target%%/*}
        if [[ -n "${below[$wanted]+set}" && "$allowed" != *" $wanted "* ]]; then
            echo "src/${file#"$src"/}:$line: src/$folder includes $target, above it" >&2
            status=1
        fi
    done < <(grep -rnoE '^#include "[a-z_]+/[a-z_]+\.h"' "$dir" --include='*.h' --include='*.cpp' |
             sed -E 's/#include "([^"]+)"/\1/')
done
if ((status == 0)); then
    echo "layers: every include reaches down"
fi
exit "$status"
