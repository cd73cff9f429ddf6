#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# How many hostile packets per second the echo probe ignores while it keeps
# its 300 ms: for each flood rate, a fresh simulated network floods the probe
# side (every hostile kind) while bench-flood probes a unit and a silent
# address in turn. Both socket paths. Prints one table row per rate and the
# highest arriving rate at which every probe was still right and on time.
#   tools/bench-flood/run.sh [BUILD_DIR] [--rates "20000 50000 ..."] [--rounds N]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build"
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
rates="10000 25000 50000 100000 200000 400000"
rounds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --rates) rates=${2:?--rates needs a list}; shift ;;
    --rounds) rounds=${2:?--rounds needs a number}; shift ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
bench="$build/tools/bench-flood/bench-flood"
sim="$build/tools/zn7qx-sim/zn7qx-sim"
for f in "$bench" "$sim"; do [ -x "$f" ] || { echo "run.sh: no $f (build first)" >&2; exit 2; }; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unit=198.18.0.10 text="Flood-bench unit" silent=198.18.0.40
status=0
for sockets in on off; do
  path=datagram; [ "$sockets" = off ] && path=raw
  best=0 best_cost=0
  printf '== %s socket: %s rounds of a unit probe and a silent probe per rate\n' "$path" "$rounds"
  printf '%10s %12s %8s %8s %9s %10s %11s %7s %6s %8s %5s\n' offered/s arrived/s units silent unit-ms silent-ms \
    slowest-ms drops cpu us/pkt kept
  for rate in $rates; do
    # Enough packets to outlast the measurement (about 0.4 s a round), no more.
    count=$(( rate * (rounds * 4 / 10 + 3) ))
    [ "$count" -gt 10000000 ] && count=10000000  # the simulator's own bound
    cat >"$work/net.json" <<JSON
{
  "replies": [{"address": "$unit", "as": "unit", "text": "$text"}],
  "flood": {"count": $count, "rate": $rate, "start_after_ms": 0, "seed": 11}
}
JSON
    line=$("$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$work/net.json" --ping-sockets "$sockets" \
      --sim-log "$work/sim.log" --max-seconds 120 \
      -- "$bench" --unit "$unit" --text "$text" --silent "$silent" --rounds "$rounds" --offered "$rate") || status=$?
    [ "$status" = 77 ] && exit 77
    [ "$status" != 0 ] && { tail -n 5 "$work/sim.log" >&2; exit "$status"; }
    declare -A f=()
    for kv in $line; do f[${kv%%=*}]=${kv#*=}; done
    printf '%10s %12s %8s %8s %9s %10s %11s %7s %6s %8s %5s\n' "$rate" "${f[arrived_pps]}" "${f[units_heard]}" \
      "${f[silent_timed_out]}" "${f[unit_ms]}" "${f[silent_ms]}" "${f[slowest_ms]}" "${f[link_drops]}" \
      "${f[cpu_share]}" "${f[cpu_us_per_packet]}" "${f[kept]}"
    if [ "${f[kept]}" = yes ] && [ "${f[arrived_pps]}" -gt "$best" ]; then
      best=${f[arrived_pps]} best_cost=${f[cpu_us_per_packet]}
    fi
    unset f
  done
  echo "$path socket: highest rate ignored with every probe right and within 300 ms: $best packets/s"
  if [ "$best" -gt 0 ]; then
    # What one core could absorb at the measured cost, where the simulator
    # (on the same machine) cannot send faster.
    awk -v c="$best_cost" 'c > 0 { printf "  at %.2f us of CPU per packet one core would absorb about %.0f packets/s\n", c, 1e6 / c }' </dev/null
  fi
  grep -h 'zn7qx-sim flood' "$work/sim.log" | tail -n 1 || true
done
