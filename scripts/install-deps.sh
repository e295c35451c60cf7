#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what building and running pjpanel needs on Debian 12, skipping what is there,
# what the tests check the manual pages (groff) and the desktop listing and entry with, and
# the MQTT client library and broker of the line server and its tests, the JSON library, and
# the openssl command the TLS test makes a certificate authority with.
# Usage: install-deps.sh [--gui] [--fuzz] [--pyserial] [--pkg]
#   --gui       adds the virtual display and screenshot tools
#   --fuzz      adds clang and its fuzzing runtime
#   --pyserial  adds Python's pyserial, the yardstick pjctl is timed against (bench_ctl.sh)
#   --pkg       adds what builds and checks the Debian packages (package.sh): dpkg-dev, lintian
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libx11-dev
          qt6-base-dev qt6-serialport-dev fonts-ipafont-gothic
          nlohmann-json3-dev groff-base appstream desktop-file-utils
          pkg-config libmosquitto-dev mosquitto mosquitto-clients openssl)
for option in "$@"; do
    case "$option" in
        --gui) packages+=(xvfb xauth xdotool imagemagick) ;;
        --fuzz) packages+=(clang libclang-rt-14-dev) ;;
        --pyserial) packages+=(python3 python3-serial) ;;
        --pkg) packages+=(dpkg-dev lintian) ;;
        *) echo "usage: $0 [--gui] [--fuzz] [--pyserial] [--pkg]" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo_cmd=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
