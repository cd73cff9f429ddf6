#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Answers lost on a loaded machine: 1024 hosts answering 290 ms after each
# request (just inside the time-out), swept while four busy loops per core
# run at the prober's priority. The simulator runs above them (nice -15):
# the network's answers come in time, and only the prober is late to read
# them. Each zn7qx-scan given is run in turn, ROUNDS times, in the same
# simulated network; it prints the answers each one lost per round.
#   tools/bench-scan/loaded.sh BUILD_DIR [ROUNDS] [ZN7QX_SCAN...]
# (give an older build's zn7qx-scan beside the current one to compare them)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
rounds=${2:-5}
shift $(( $# > 2 ? 2 : $# ))
scans=("$@")
[ ${#scans[@]} -gt 0 ] || scans=("$build/app/zn7qx-scan/zn7qx-scan")
exec "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$build/tools/zn7qx-sim/zn7qx-sim" \
  --config "$here/loaded-network.json" --routed 198.19.0.0/22 --sim-nice -15 --max-seconds 600 -- bash -c '
  set -euo pipefail
  rounds=$1; shift
  busy=()
  trap "kill \${busy[*]} 2>/dev/null" EXIT
  for _ in $(seq $((4 * $(nproc)))); do ( end=$((SECONDS + 300)); while [ $SECONDS -lt $end ]; do :; done ) & busy+=($!); done
  for scan in "$@"; do printf "%-60s" "$scan"; done; echo
  declare -A lost=()
  for round in $(seq "$rounds"); do
    for scan in "$@"; do
      hosts=$("$scan" 198.19.0.0/22 --all -q | grep -c " host$" || true)
      lost[$scan]=$(( ${lost[$scan]:-0} + 1024 - hosts ))
      printf "%-60s" "lost $(( 1024 - hosts )) of 1024"
    done
    echo
  done
  for scan in "$@"; do printf "%-60s" "in all: lost ${lost[$scan]} of $(( 1024 * rounds ))"; done; echo' _ "$rounds" "${scans[@]}"
