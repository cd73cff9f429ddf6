#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The long runs, on both socket paths: many sweeps in one process
# (zn7qx-scan-longrun) and many scans of the real window (bench-window
# --scans), each in a simulated network of its own; then a standing watch
# with its metrics, sweeps back to back. Prints their figures.
#   tools/bench-scan/longrun.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
count=${2:-50}
sim=$build/tools/zn7qx-sim/zn7qx-sim
for sockets in on off; do
  echo "== ping sockets $sockets"
  "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/longrun-network.json" \
    --ping-sockets "$sockets" --max-seconds 600 -- "$build/tools/bench-scan/zn7qx-scan-longrun" "$count"
  "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$root/tools/bench-window/bench-network.json" \
    --ping-sockets "$sockets" --max-seconds 600 -- env QT_QPA_PLATFORM=offscreen \
    "$build/tools/bench-window/bench-window" --answering 1 --silent 1 --scans "$count"
done
# A standing watch of the part of a /24 that answers and keeps changing, with
# its metrics file: COUNT x 200 sweeps back to back (10000 by default).
metrics=$(mktemp -d)
trap 'rm -rf "$metrics"' EXIT
echo "== a watch of $((count * 200)) sweeps"
"$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/watch-network.json" --max-seconds 3600 -- \
  "$build/tools/bench-scan/zn7qx-scan-longrun" --watch "$((count * 200))" 198.18.0.10-198.18.0.20,198.18.0.100-198.18.0.149 \
  "$metrics/units.prom"
