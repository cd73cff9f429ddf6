#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command with an X server (Xvfb) and an accessibility bus of its own,
# in a D-Bus session of its own, as a desktop with a screen reader has them:
# the Qt programs it starts put their windows on the bus. Exits 77 when a
# piece (or the python3 of reader.py) is not installed.
#   with-a11y-bus.sh COMMAND [ARGS...]
set -uo pipefail
for tool in dbus-run-session Xvfb /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed" >&2; exit 77; }
done
[ -n "${ZN7QX_A11Y_SESSION:-}" ] || ZN7QX_A11Y_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
# The first free display, so that runs side by side never meet.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 & pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 200); do [ -s "$dir/display" ] && break; sleep 0.05; done
[ -s "$dir/display" ] || { echo "with-a11y-bus: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$dir/display")" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$@"
