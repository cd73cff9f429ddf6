#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds nothing: the window's scan pace while a screen reader reads it over
# and over (tools/screen-reader/reader.py), beside the same scans without
# one, in one run: bench-window on an X server with the accessibility bus,
# inside the simulated network (ping sockets).
#   tools/bench-window/reader.sh [BUILD_DIR] [-- bench-window options]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build}"
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
bench="$build/tools/bench-window/bench-window"
[ -x "$bench" ] || { echo "reader.sh: no $bench (build first)" >&2; exit 2; }
exec "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$build/tools/zn7qx-sim/zn7qx-sim" \
  --config "$here/bench-network.json" -- "$root/tools/screen-reader/with-a11y-bus.sh" "$bench" \
  --reader "/usr/bin/python3 \"$root/tools/screen-reader/reader.py\" bench-window" "$@"
