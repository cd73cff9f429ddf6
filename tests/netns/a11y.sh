#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The window on a real X server (Xvfb) with the accessibility bus, read by a
# screen reader's client (a11y.py) during a scan. Runs on the probe side of
# the simulated network, inside a D-Bus session of its own:
#   with-sim-network.sh ... -- dbus-run-session -- a11y.sh ZN7QX_FINDER ZN7QX_SIM
set -uo pipefail
finder=$1 sim=$2 here=$(cd "$(dirname "$0")" && pwd)
"$sim" --check-isolation --probe-link "${ZN7QX_PROBE_IF:-none}" --ranges "${ZN7QX_TEST_RANGES:-}" >/dev/null ||
  { echo "a11y: not in an isolated test network: nothing sent" >&2; exit 1; }
for tool in Xvfb /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed" >&2; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed" >&2; exit 77; }
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
Xvfb :77 -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 & pids+=($!)
export DISPLAY=:77 QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.05; done
"$finder" & pids+=($!)
timeout 60 /usr/bin/python3 "$here/a11y.py"
