#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A long watch: the real zn7qx-scan --watch 1 over a /24 of the simulated
# network of watch-network.json, where units keep appearing, vanishing,
# moving and changing their text, for SWEEPS sweeps (default 1000, about as
# many seconds). Prints the watch's resident set, its peak and its open
# descriptors after 10 sweeps and every 100 after, the changes it wrote, and
# its summary once ended with Ctrl-C's signal.
#   tools/bench-scan/watch-bench.sh [BUILD_DIR] [SWEEPS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ "${1:-}" = --measure ]; then
  scan=$2 sim=$3 sweeps=$4 out=$(mktemp) err=$(mktemp)
  trap 'rm -f "$out" "$err"' EXIT
  "$sim" --check-isolation --probe-link "${ZN7QX_PROBE_IF:-none}" --ranges "${ZN7QX_TEST_RANGES:-}" >/dev/null ||
    { echo "watch-bench: not in an isolated test network: nothing sent" >&2; exit 1; }
  "$scan" 198.18.0.0/24 --watch 1 --json >"$out" 2>"$err" & pid=$!
  start=$(date +%s.%N)
  figures() {
    printf '%5d sweeps: VmRSS %6d KiB, VmHWM %6d KiB, %d descriptors, %d changes written\n' "$1" \
      "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")" "$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")" \
      "$(ls "/proc/$pid/fd" | wc -l)" "$(wc -l <"$out")"
  }
  for at in 10 $(seq 100 100 "$sweeps"); do
    [ "$at" -le "$sweeps" ] || break
    # Sweep N starts N - 1 s after the first and takes about 0.3 s.
    sleep "$(awk -v s="$start" -v a="$at" -v now="$(date +%s.%N)" 'BEGIN { d = s + a - 0.2 - now; print (d > 0 ? d : 0) }')"
    figures "$at"
  done
  kill -INT "$pid"
  wait "$pid" || true
  cat "$err"
  python3 -c 'import collections,json,sys
print("changes:", dict(collections.Counter(json.loads(l)["event"] for l in sys.stdin)))' <"$out"
  exit 0
fi
build=${1:-$root/build}
sweeps=${2:-1000}
[[ "$sweeps" =~ ^[0-9]+$ ]] && [ "$sweeps" -ge 10 ] || { echo "watch-bench: SWEEPS must be a number from 10" >&2; exit 2; }
sim=$build/tools/zn7qx-sim/zn7qx-sim
"$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/watch-network.json" \
  --max-seconds "$((sweeps + 120))" -- "$0" --measure "$build/app/zn7qx-scan/zn7qx-scan" "$sim" "$sweeps"
