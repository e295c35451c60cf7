#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the two Debian packages in build-pkg/ (Release, no tests, Debian's hardening flags),
# runs lintian on them (an error or a warning fails) and checks them unpacked into a scratch
# directory, nothing installed: every file in the package and place the README's install
# table gives and none beyond it, the packages' version the changelog's, the headless
# package's Depends free of Qt and X, and the programs answering --version from there.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --pkg
build="build-pkg"
started=$SECONDS
failures=0
fail() {
    echo "FAIL: $*"
    ((failures++)) || true
}

# The flags Debian builds its packages with, -O2 and the hardening (without -g: the packages
# are stripped); Release adds only NDEBUG to them, not its -O3.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g \
    DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DPJ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack >/dev/null)
echo "built in $((SECONDS - started)) s"

version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
arch=$(dpkg --print-architecture)
panel=$build/pjpanel_${version}_$arch.deb
tools=$build/pjpanel-tools_${version}_$arch.deb
for deb in "$panel" "$tools"; do
    [[ -f $deb ]] || { echo "FAIL: no $deb: the changelog's version is not the packages'"; ls "$build"/*.deb; exit 1; }
done

lintian_options=(--fail-on "error,warning")
if [[ $(id -u) -eq 0 ]]; then
    lintian_options+=(--allow-root) # CI runs as root; lintian only advises against it
fi
lintian "${lintian_options[@]}" "$panel" "$tools" || fail "lintian"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$panel" "$scratch/pjpanel"
dpkg-deb -x "$tools" "$scratch/pjpanel-tools"

# The README's install table: each row's first cell names files (a name without a directory
# is in the directory of the cell's first file), its second the package, then ", package only".
expected=()
while IFS='|' read -r _ where package _; do
    package=${package%%,*}
    package=${package// /}
    directory=
    for file in $(grep -o '`[^`]*`' <<<"$where" | tr -d '`'); do
        if [[ $file == */* ]]; then
            directory=$(dirname "$file")
        else
            file=$directory/$file
        fi
        expected+=("$package/usr/$file")
    done
done < <(sed -n '/^## Installing the package/,/^## [^I]/p' README.md | grep '^| `')
((${#expected[@]} > 10)) || fail "the README's install table was not found (${#expected[@]} files)"
unpacked=$(cd "$scratch" && find . -type f -o -type l | sed 's|^\./||' | sort)
missing=$(comm -23 <(printf '%s\n' "${expected[@]}" | sort) <(echo "$unpacked"))
extra=$(comm -13 <(printf '%s\n' "${expected[@]}" | sort) <(echo "$unpacked"))
[[ -z $missing ]] || fail "not where the README's table says (package/file):"$'\n'"$missing"
[[ -z $extra ]] || fail "in a package, not in the README's table:"$'\n'"$extra"

# Installing the headless package alone pulls nothing of Qt or X: not its Depends, nor (where
# apt knows the packages) what they depend on in turn.
graphical='^<?((lib)?qt[0-9]|libx(11|cb|ext|render|kb|au|dmcp|i[0-9]|fixes|randr|cursor)|libsm[0-9]|libice[0-9]|lib(open)?gl([0-9]|x|vnd|-)|libegl|libwayland|libfontconfig|libfreetype|libgtk|x11-|xserver|xkb-data)'
depends=$(dpkg-deb -f "$tools" Depends)
echo "pjpanel-tools Depends: $depends"
echo "pjpanel Depends: $(dpkg-deb -f "$panel" Depends)"
read -r -a names <<<"$(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends")"
named=$(printf '%s\n' "${names[@]}" | grep -iE "$graphical" || true)
[[ -z $named ]] || fail "pjpanel-tools depends on Qt or X: $named"
if apt-cache show "${names[@]}" >/dev/null 2>&1; then
    closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances "${names[@]}" | grep -v '^ ' | sort -u)
    pulled=$(grep -iE "$graphical" <<<"$closure" || true)
    [[ -z $pulled ]] || fail "pjpanel-tools pulls in Qt or X: $pulled"
    echo "pjpanel-tools pulls in $(wc -l <<<"$closure") packages, none of Qt or X"
else
    echo "apt knows not all of ${names[*]}: only the Depends were checked"
fi

# The programs run from the unpacked tree (the panel's --version needs no display).
upstream=${version%-*}
for program in pjpanel-tools/usr/bin/pjctl pjpanel-tools/usr/bin/pjline \
    pjpanel-tools/usr/bin/pjsim pjpanel/usr/bin/pjpanel; do
    answer=$(QT_QPA_PLATFORM=offscreen "$scratch/$program" --version 2>&1) ||
        fail "$program --version failed: $answer"
    [[ $answer == "$(basename "$program") $upstream" ]] ||
        fail "$program --version says \"$answer\", not \"$(basename "$program") $upstream\""
done

echo "packaged and checked in $((SECONDS - started)) s"
((failures == 0))
