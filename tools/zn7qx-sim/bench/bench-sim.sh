#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# How many echo requests per second the simulator answers: a /16 swept at
# 10000, 50000, 100000 requests/s and as fast as the prober goes, inside the
# simulated network. Prints a table, then the simulator's counters and CPU.
# Usage: tools/zn7qx-sim/bench/bench-sim.sh [BUILD-DIR] [--rate N]...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../../build}
shift || true
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$here/../with-sim-network.sh" --sim "$build/tools/zn7qx-sim/zn7qx-sim" --config "$here/bench-sim.json" \
  --routed 198.19.0.0/16 --ping-sockets off --sim-log "$log" --max-seconds 300 \
  -- "$build/tools/zn7qx-sim/zn7qx-sim-bench" --range 198.19.0.0/16 "$@"
cat "$log"
