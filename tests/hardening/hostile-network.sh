#!/usr/bin/env bash
# Scans the same simulated network twice with the real controller and probe,
# once quiet and once under a bounded hostile flood, and requires the two
# results (every probe's status, both lists, the summary) to be identical.
# Usage: hostile-network.sh HARNESS SIM TEST_BINARY CONFIG_DIR on|off
set -euo pipefail
harness=$1 sim=$2 binary=$3 configs=$4 sockets=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name config [env...]
  local name=$1 config=$2; shift 2
  local status=0
  "$harness" --sim "$sim" --config "$config" --ping-sockets "$sockets" --sim-log "$work/$name.sim.log" \
    --max-seconds 120 -- env ZN7QX_SCAN_RESULT="$work/$name.result" "$@" "$binary" \
    --gtest_filter='ScanUnderLoad.FloodChanges*' || status=$?
  if [ "$status" -ne 0 ]; then
    [ -f "$work/$name.sim.log" ] && tail -n 5 "$work/$name.sim.log" >&2
    exit "$status"  # 77 (no namespaces) passes through as a skip
  fi
  grep -h 'zn7qx-sim' "$work/$name.sim.log" | tail -n 2 || true
}

run quiet "$configs/hostile-quiet.json"
run flood "$configs/hostile-flood.json" ZN7QX_EXPECT_FLOOD_PACKETS=5000
if ! diff -u "$work/quiet.result" "$work/flood.result"; then
  echo "hostile-network: the flood changed the scan's outcome" >&2
  exit 1
fi
echo "hostile-network: $(wc -l <"$work/flood.result") result lines identical with and without the flood"
