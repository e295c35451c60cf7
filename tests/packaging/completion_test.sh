#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# pjctl's bash completion, sourced in a plain bash: each case is the words on the line (the
# last being the one under the cursor) and the completions it must offer, in any order.
# Usage: completion_test.sh COMPLETION_FILE
set -uo pipefail
completion=$1

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dev=$tree/dev
files=$tree/files
mkdir -p "$dev/serial/by-id" "$files"
touch "$dev"/{ttyS0,ttyS1,ttyUSB0,ttyACM0,tty0,null} "$files"/{log.txt,list,night.pjctl}
ln -s ../../ttyUSB0 "$dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"
export PJCTL_COMPLETION_DEV=$dev

# The command names come from "pjctl commands"; a few of its lines stand in for it here.
pjctl() {
    [[ $1 == commands ]] && printf '%s\t%s\t%s\t%s\n' \
        power.on C00 one-shot POWER power.off C01 one-shot POWER \
        zoom.in C47 hold zoom zoom.out C46 hold zoom status.operating CR0 query status
}

# shellcheck source=/dev/null
source "$completion"
if [[ $(complete -p pjctl 2>/dev/null) != *"-F _pjctl"* ]]; then
    echo "FAIL: sourcing $completion does not register a completion for pjctl"
    exit 1
fi

# words on the line  =>  the completions expected
cases=(
    "pjctl ''                     => send query hold ports decode doctor status run commands"
    "pjctl s                      => send status"
    "pjctl --b                    => --baud"
    "pjctl --                     => --port --baud --address --json --log --timeout --gap
                                     --confirm --all --for --every --version --help"
    "pjctl status --a             => --address --all"
    "pjctl --baud ''              => 19200 9600"
    "pjctl --baud = 9             => 9600"
    "pjctl --address ''           => single all 1 2 3 4"
    "pjctl --address = a          => all"
    "pjctl --timeout ''           => "
    "pjctl hold C47 --every ''    => "
    "pjctl query ''               => status mode lamp-time setting temp lamp-mode mute raw
                                     pressure"
    "pjctl --port x --json decode lamp => lamp-time lamp-mode"
    "pjctl --baud 9600 q          => query"
    "pjctl --baud = 9600 q        => query"
    "pjctl query status ''        => "
    "pjctl send ''                => "
    "pjctl send power.o           => power.on power.off"
    "pjctl --address 2 send C0    => "
    "pjctl hold zo                => zoom.in zoom.out"
    "pjctl hold p                 => "
    "pjctl c                      => commands"
    "pjctl -- -                   => "
    "pjctl --port ''              => \$dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0
                                     \$dev/ttyS0 \$dev/ttyS1 \$dev/ttyUSB0 \$dev/ttyACM0"
    "pjctl --port = \$dev/ttyU     => \$dev/ttyUSB0"
    "pjctl --log \$files/l         => \$files/log.txt \$files/list"
    "pjctl --json run \$files/n    => \$files/night.pjctl"
    "pjctl run \$files/night.pjctl '' => "
)

failures=0
for case in "${cases[@]}"; do
    eval "words=(${case%%=>*})"
    eval "expected=(${case#*=>})"
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    COMPREPLY=()
    _pjctl
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
    want=$(printf '%s\n' "${expected[@]}" | sort)
    if [[ $got != "$want" ]]; then
        echo "FAIL: ${words[*]}"
        echo "  expected: $(echo $want)"
        echo "  offered:  $(echo $got)"
        ((failures++))
    fi
done
echo "${#cases[@]} cases, $failures failed"
((failures == 0))
