#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# with-layout.sh LAYOUT|--each -- COMMAND ARGS...
# Runs COMMAND in a fresh network namespace holding the layout_LAYOUT below
# (--each: every layout but Neighbours and Link), its veth peers in a second
# namespace of ours, the only place the kernel's ARP probes can go. A layout
# says what discovery must find: expect LISTED MASK ADDRESS [MESSAGE], LISTED
# "name address/mask;" per interface in the kernel's order, MESSAGE what is
# shown once per query. Exits 77 where namespaces cannot be made.
set -euo pipefail

# link NAME [up|down] [peer-down]
link() {
  ip link add "$1" type veth peer name "p-$1" netns "$peers"
  [ "${3:-}" = peer-down ] || nsenter --net="/proc/$peers/ns/net" ip link set "p-$1" up
  ip link set "$1" "${2:-up}"
}
expect() { export ZN7QX_EXPECT_LISTED=$1 ZN7QX_EXPECT_RANGE="$2 $3" ZN7QX_EXPECT_MESSAGE=${4:-}; }

layout_OnlyLoopback() { expect "" 0.0.0.0 0.0.0.0 "GetAdaptersInfo sizing failed with error 232"; }
layout_OneInterface() { link n0; ip addr add 10.0.2.15/23 dev n0; expect "n0 10.0.2.15/255.255.254.0;" 255.255.254.0 10.0.2.15; }
# n9 is made first, so listed first, although its name sorts last.
layout_FirstWithoutAddress() { link n9; link n1; ip addr add 10.0.2.15/23 dev n1
  expect "n9 0.0.0.0/0.0.0.0;n1 10.0.2.15/255.255.254.0;" 255.255.254.0 10.0.2.15; }
layout_DownInterface() { link n0 down; link n1; ip addr add 10.0.2.15/23 dev n0; ip addr add 198.18.4.20/22 dev n1
  expect "n0 0.0.0.0/0.0.0.0;n1 198.18.4.20/255.255.252.0;" 255.255.252.0 198.18.4.20; }
layout_OnlyDown() { link n0 down; ip addr add 10.0.2.15/23 dev n0; expect "n0 0.0.0.0/0.0.0.0;" 0.0.0.0 0.0.0.0; }
# Without carrier an interface counts as one without an address.
layout_NoCarrierFirst() { link n0 up peer-down; link n1; ip addr add 10.0.2.15/23 dev n0; ip addr add 198.18.4.20/22 dev n1
  expect "n0 0.0.0.0/0.0.0.0;n1 198.18.4.20/255.255.252.0;" 255.255.252.0 198.18.4.20; }
# A fresh bridge: the kernel reports its state as unknown, and it runs.
layout_UnknownState() { ip link add br0 type bridge; ip link set br0 up; ip addr add 198.18.7.1/24 dev br0
  expect "br0 198.18.7.1/255.255.255.0;" 255.255.255.0 198.18.7.1; }
layout_ManyAddresses() { link n0; for a in 198.18.8.9/22 10.0.2.15/23 198.18.9.1/24; do ip addr add $a dev n0; done
  expect "n0 198.18.8.9/255.255.252.0;" 255.255.252.0 198.18.8.9; }
layout_LabelledAddress() { link n0; ip addr add 10.0.2.15/23 dev n0 label n0:lab
  expect "n0 10.0.2.15/255.255.254.0;" 255.255.254.0 10.0.2.15; }
# A neighbour table: an entry in each state on n0 (198.18.7.N has state N).
layout_Neighbours() { link n0; link n1; ip addr add 198.18.7.1/24 dev n0; ip addr add 198.18.8.1/24 dev n1
  ip route add 198.19.7.0/24 via 198.18.7.254 dev n0
  n=1; for state in reachable stale delay probe permanent failed incomplete noarp; do
    n=$((n + 1)); ip neigh replace 198.18.7.$n lladdr 02:00:5e:10:07:0$n nud $state dev n0; done
  ip neigh replace 198.18.7.10 lladdr 02:00:5e:10:07:10 nud reachable dev n1
  ip neigh replace 198.18.7.11 lladdr 00:00:00:00:00:00 nud permanent dev n0
  ip neigh replace 198.18.7.12 lladdr 02:00:5e:10:07:12 nud stale dev n0
  ip neigh replace 198.18.7.12 lladdr 02:00:5e:10:08:12 nud reachable dev n1
  ip neigh replace 198.19.7.5 lladdr 02:00:5e:10:07:11 nud reachable dev n0; }

# The link-layer sweep's: n0's far end here too, with no address, for the
# test's own peer to read and write frames on; this kernel answers nothing there.
layout_Link() { ip link add n0 type veth peer name p-n0; echo 8 >/proc/sys/net/ipv4/conf/p-n0/arp_ignore
  ip link set p-n0 up; ip link set n0 up; ip addr add 198.18.9.1/24 dev n0; }

[ $# -ge 3 ] && [ "$2" = "--" ] || { echo "usage: $0 LAYOUT|--each -- COMMAND ARGS..." >&2; exit 2; }
layout=$1
shift 2
if [ "$layout" = --each ]; then
  for name in $(declare -F | sed -n 's/^declare -f layout_//p' | grep -vxE 'Neighbours|Link'); do
    echo "== $name"
    "$0" "$name" -- "$@" || { echo "FAIL: layout $name" >&2; exit 1; }
  done
  exit 0
fi
declare -F "layout_$layout" >/dev/null || { echo "unknown layout: $layout" >&2; exit 2; }
if [ "${ZN7QX_IN_LAYOUT_NS:-}" != "$layout" ]; then
  mode=(-rn); [ "$(id -u)" -eq 0 ] && mode=(-n)
  unshare "${mode[@]}" true 2>/dev/null || { echo "SKIP: cannot create a network namespace" >&2; exit 77; }
  ZN7QX_IN_LAYOUT_NS=$layout exec unshare "${mode[@]}" -- "$0" "$layout" -- "$@"
fi
# Our own namespace: it must hold nothing but lo.
[ "$(ip -o link show | awk -F': ' '{print $2}')" = lo ] || { echo "FAIL: the namespace is not fresh" >&2; exit 1; }
unshare -n sleep 120 &
peers=$!
trap 'status=$?; kill "$peers"; wait "$peers" 2>/dev/null || true; exit $status' EXIT
until [ "$(readlink "/proc/$peers/ns/net")" != "$(readlink /proc/self/ns/net)" ]; do sleep 0.02; done
ip link set lo up
"layout_$layout"
ZN7QX_DISCOVERY_LAYOUT=$layout "$@"
