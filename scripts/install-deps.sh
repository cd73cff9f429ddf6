#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the packages the build, the window and the tests need on Debian
# 12 or 13, only those that are missing. Needs root (or sudo) when something
# is missing. Every name here is one that both releases have.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-qpa-plugins
  fonts-dejavu-core fonts-liberation
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
  libcap-dev libcap2-bin libmnl-dev
  iproute2 procps util-linux
  dpkg-dev file
  help2man librsvg2-bin
)
if [ "${ZN7QX_WITH_TEST_TOOLS:-0}" = 1 ]; then
  # The suite's extras: a display for screenshots, the sanitizer and fuzzer
  # runtime, the tools the sweep benchmark compares against, the validators
  # of the desktop entry and the AppStream metadata, python3 for JSON, and a
  # session bus with the accessibility bus and a screen reader's client, and
  # systemd-analyze for the watch's unit, and debootstrap and systemd-nspawn
  # for the watch's check under a real systemd.
  packages+=(xvfb xauth clang libclang-rt-dev fping nmap iputils-ping desktop-file-utils libxml2-utils appstream
             python3 dbus at-spi2-core python3-gi gir1.2-atspi-2.0 systemd
             debootstrap systemd-container)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
# The variable after sudo, which would drop it from the environment.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
