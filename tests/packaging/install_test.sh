#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# `cmake --install` into a scratch DESTDIR: exactly the files of the table below land, each
# is what its source is (a manual page compressed), and the pieces that name one another
# agree: the listing, the desktop entry, its icon and program, the example units' program,
# the line server's unit, its configuration's example and its options.
# Usage: install_test.sh BUILD_DIR VERSION with-pjline|without-pjline
set -uo pipefail
build=$1
version=$2
line=$3
source=$(cd "$(dirname "$0")/../.." && pwd)
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    ((failures++))
}

if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$dest.log" 2>&1; then
    cat "$dest.log"
    rm -f "$dest.log"
    echo "FAIL: cmake --install failed"
    exit 1
fi
rm -f "$dest.log"
root=$dest/usr

# installed file (under the prefix)                       its source ("built": a program)
layout=(
    "bin/pjpanel                                            built"
    "bin/pjctl                                              built"
    "bin/pjsim                                              built"
    "share/man/man1/pjpanel.1.gz                            docs/man/pjpanel.1"
    "share/man/man1/pjctl.1.gz                              docs/man/pjctl.1"
    "share/man/man1/pjsim.1.gz                              docs/man/pjsim.1"
    "share/bash-completion/completions/pjctl                packaging/bash-completion/pjctl"
    "share/applications/org.example.pjpanel.desktop         packaging/org.example.pjpanel.desktop"
    "share/metainfo/org.example.pjpanel.metainfo.xml        packaging/org.example.pjpanel.metainfo.xml"
    "share/icons/hicolor/scalable/apps/pjpanel.svg          packaging/pjpanel.svg"
    "share/doc/pjpanel-tools/examples/pjctl-poweroff.service      packaging/systemd/pjctl-poweroff.service"
    "share/doc/pjpanel-tools/examples/pjctl-poweroff.timer        packaging/systemd/pjctl-poweroff.timer"
)
if [[ $line == with-pjline ]]; then
    layout+=(
        "bin/pjline                                         built"
        "share/man/man1/pjline.1.gz                         docs/man/pjline.1"
        "lib/systemd/system/pjline@.service                 packaging/systemd/pjline@.service"
        "share/doc/pjpanel-tools/examples/booth.conf.example      packaging/pjline/booth.conf.example"
    )
fi

expected=()
for row in "${layout[@]}"; do
    read -r file from <<<"$row"
    expected+=("usr/$file")
    if [[ ! -f $root/$file ]]; then
        fail "$file was not installed"
    elif [[ $from == built ]]; then
        [[ -x $root/$file ]] || fail "$file is not executable"
    elif [[ $file == *.gz ]]; then
        gzip -dc "$root/$file" | cmp -s - "$source/$from" || fail "$file is not $from compressed"
    else
        cmp -s "$root/$file" "$source/$from" || fail "$file is not $from"
    fi
done
unexpected=$(comm -13 <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$dest" && find . -type f -o -type l | sed 's|^\./||' | sort))
[[ -z $unexpected ]] || fail "installed beyond the table: $unexpected"

# The listing names the desktop entry by the id both carry, and the newest release is this one.
desktop=$root/share/applications/org.example.pjpanel.desktop
metainfo=$root/share/metainfo/org.example.pjpanel.metainfo.xml
id=$(sed -n 's|.*<id>\(.*\)</id>.*|\1|p' "$metainfo")
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
[[ $id.desktop == "$(basename "$desktop")" ]] || fail "the listing's id \"$id\" is not the desktop entry's name"
[[ $launchable == "$(basename "$desktop")" ]] || fail "the listing launches \"$launchable\""
release=$(grep -o -m1 '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[[ $release == "$version" ]] || fail "the listing's newest release is \"$release\", the project is $version"
# The desktop entry starts an installed program and shows an installed icon.
exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -n $exec && -x $root/bin/$exec ]] || fail "the desktop entry starts \"$exec\", which is not installed"
compgen -G "$root/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fail "the desktop entry's icon \"$icon\" is not installed"

# The example units: their program is the installed pjctl, and systemd takes them as they are.
examples=$root/share/doc/pjpanel-tools/examples
program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$examples/pjctl-poweroff.service")
[[ $program == /usr/bin/pjctl ]] || fail "the example service runs \"$program\""
if command -v systemd-analyze >/dev/null; then
    units=$dest/units
    mkdir "$units"
    cp "$examples/pjctl-poweroff.timer" "$units/"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$root/bin/|" "$examples/pjctl-poweroff.service" \
        >"$units/pjctl-poweroff.service"
    report=$(systemd-analyze verify --man=no "$units"/pjctl-poweroff.{timer,service} 2>&1) ||
        fail "systemd-analyze verify: $report"
else
    echo "systemd-analyze is not installed: the example units were not verified"
fi

# The line server's unit serves NAME's configuration, and systemd takes it with no complaint
# (an unknown key is only a warning). Without the program built, the unit of the source tree
# is checked, on a stand-in program.
if [[ $line == with-pjline ]]; then
    unit=$root/lib/systemd/system/pjline@.service
    program=$root/bin/pjline
else
    unit=$source/packaging/systemd/pjline@.service
    program=$(command -v true)
fi
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[[ $exec_start == "/usr/bin/pjline --config /etc/pjline/%i.conf" ]] ||
    fail "the line server's unit runs \"$exec_start\""
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$dest/units"
    sed "s|^ExecStart=/usr/bin/pjline|ExecStart=$program|" "$unit" >"$dest/units/pjline@.service"
    report=$(systemd-analyze verify --man=no "$dest/units/pjline@.service" 2>&1)
    [[ $? -eq 0 && -z $report ]] || fail "systemd-analyze verify pjline@.service: $report"
fi

# The example configuration's keys are the program's options, each once, and every option that
# a file can set is there: the configuration and --help and --version are not keys.
if [[ $line == with-pjline ]]; then
    example=$root/share/doc/pjpanel-tools/examples/booth.conf.example
    keys=$(sed -n 's/^#\{0,1\}\([a-z_]*\) *= .*/\1/p' "$example" | sort)
    duplicated=$(uniq -d <<<"$keys")
    [[ -z $duplicated ]] || fail "the example sets $duplicated more than once"
    options=$("$root/bin/pjline" --help 2>&1 | grep -oE -- '--[a-z][a-z-]*' | sort -u |
        grep -vxE -- '--(config|help|version)' | sed 's/^--//; s/-/_/g')
    [[ $(uniq <<<"$keys") == "$options" ]] ||
        fail "the example's keys are not pjline's options: $(diff <(uniq <<<"$keys") - <<<"$options" | tr '\n' ' ')"
fi
((failures == 0))
