#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A flat on-link /16 (onlink-network.json: 40 units, 40 hosts, every other
# address silent, at ARP too) swept by zn7qx-scan with and without
# CAP_NET_RAW, beside fping and nmap in the same run, each while the window
# scans in a namespace of its own. Prints wall time, units and hosts found,
# false errors, ARP requests on the wire, and the neighbour table's entries
# during the sweep: the probe namespace's own, and the machine's.
#   tools/bench-scan/onlink.sh [--build DIR] [--polite-prefix N] [--nmap-seconds S]
# Without the capability the sweep is held to the table's pace, so it runs
# over 198.18.0.0/N (default /21; 16 for the whole /16, nearly an hour), and
# nmap over the same and over the /16, stopped after S seconds (default 120).
# Needs root (the machine's table is read from its first namespace), fping,
# nmap and python3. It fills the machine's neighbour table for a few seconds
# (fping does): run it when nobody else is testing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build="" prefix=21 nmap_seconds=120
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift ;;
    --polite-prefix) prefix=$2; shift ;;
    --nmap-seconds) nmap_seconds=$2; shift ;;
    -h|--help) sed -n 2,15p "$0"; exit 0 ;;
    *) echo "onlink.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$build" ] || build=$(dirname "$(dirname "$(dirname "$(ls -t "$repo"/build*/app/zn7qx-scan/zn7qx-scan | head -n1)")")")
for tool in fping nmap python3; do command -v $tool >/dev/null || { echo "onlink.sh: $tool is needed" >&2; exit 2; }; done
[ -r /proc/net/stat/arp_cache ] || { echo "onlink.sh: run it in the machine's first network namespace, as root" >&2; exit 2; }
echo "zn7qx-scan: $build/app/zn7qx-scan/zn7qx-scan; $(fping -v 2>&1 | head -n1); $(nmap --version | head -n1); $(nproc) cores"
echo "neighbour table: gc_thresh3 $(cat /proc/sys/net/ipv4/neigh/default/gc_thresh3)"
tmp=$(mktemp -d)
# The machine's table (every namespace's entries), sampled from outside.
( while :; do echo "$(date +%s.%N) $((16#$(awk 'NR == 2 { print $1 }' /proc/net/stat/arp_cache)))"; sleep 0.1; done ) \
  >"$tmp/machine" &
sampler=$!
trap 'kill "$sampler" 2>/dev/null; rm -rf "$tmp"' EXIT
"$repo/tools/zn7qx-sim/with-sim-network.sh" --sim "$build/tools/zn7qx-sim/zn7qx-sim" \
  --config "$here/onlink-network.json" --probe-cidr 198.18.0.1/16 --sim-log /dev/null --max-seconds 7200 --sim-nice -10 \
  -- env ZN7QX_MACHINE_NEIGH="$tmp/machine" python3 "$here/onlink.py" "$build" "$repo" "$here/onlink-network.json" \
  "$prefix" "$nmap_seconds"
