#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of zn7qx-scan beside fping and nmap, all in one simulated network
# (never the machine's own): 198.18.0.0/23 on-link with units, hosts, errors,
# misleading answers and silent addresses, and 198.19.0.0/16 routed.
#   tools/bench-scan/bench.sh [--build DIR] [--repeat N] [--nmap-wide]
# Needs root or unprivileged user namespaces, fping, nmap and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build="" repeat=3 nmap_wide=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --repeat) repeat=$2; shift ;;
    --nmap-wide) nmap_wide=1 ;;
    -h|--help) sed -n 2,7p "$0"; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$build" ] || build=$(dirname "$(dirname "$(dirname "$(ls -t "$repo"/build*/app/zn7qx-scan/zn7qx-scan | head -n1)")")")
scan=$build/app/zn7qx-scan/zn7qx-scan
sim=$build/tools/zn7qx-sim/zn7qx-sim
for tool in fping nmap python3; do command -v $tool >/dev/null || { echo "bench.sh: $tool is needed" >&2; exit 2; }; done
[ -x "$scan" ] && [ -x "$sim" ] || { echo "bench.sh: build zn7qx-scan and zn7qx-sim first (looked in $build)" >&2; exit 2; }
echo "zn7qx-scan: $scan"
echo "$(fping -v 2>&1 | head -n1); $(nmap --version | head -n1); $(nproc) cores"
exec "$repo/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/bench-network.json" \
  --probe-cidr 198.18.0.1/23 --routed 198.19.0.0/16 --sim-log /dev/null --max-seconds 1800 \
  -- python3 "$here/bench.py" "$scan" "$here/bench-network.json" "$repeat" "$nmap_wide"
