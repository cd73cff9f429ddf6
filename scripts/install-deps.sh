#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages the build, the window and the tests need,
# only those that are missing. Needs root (or sudo) when something is missing.
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
  # session bus with the accessibility bus and a screen reader's client.
  packages+=(xvfb xauth clang libclang-rt-14-dev fping nmap iputils-ping desktop-file-utils libxml2-utils appstream
             python3 dbus at-spi2-core python3-gi gir1.2-atspi-2.0)
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
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
