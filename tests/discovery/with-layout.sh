#!/usr/bin/env bash
# with-layout.sh LAYOUT -- COMMAND ARGS...
# Runs COMMAND in a fresh network namespace holding the interface layout
# LAYOUT, with ZN7QX_DISCOVERY_LAYOUT=LAYOUT in its environment. Interfaces
# are veth ends whose peers sit in a second namespace of our own; nothing is
# sent. Exits 77 when network namespaces cannot be made here.
set -euo pipefail

usage() { echo "usage: $0 LAYOUT -- COMMAND ARGS..." >&2; exit 2; }
[ $# -ge 3 ] && [ "$2" = "--" ] || usage
layout=$1
shift 2

if [ "${ZN7QX_IN_LAYOUT_NS:-}" != "$layout" ]; then
  command -v unshare >/dev/null && command -v ip >/dev/null || {
    echo "SKIP: unshare or ip (iproute2) missing" >&2; exit 77; }
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    mode=(-n)
  elif unshare -rn true 2>/dev/null; then
    mode=(-rn)
  else
    echo "SKIP: cannot create a network namespace (not root, no user namespaces)" >&2
    exit 77
  fi
  export ZN7QX_IN_LAYOUT_NS=$layout
  exec unshare "${mode[@]}" -- "$0" "$layout" -- "$@"
fi

# From here on we are in our own namespace: it must hold nothing but lo.
links=$(ip -o link show | awk -F': ' '{print $2}')
if [ "$links" != "lo" ]; then
  echo "FAIL: namespace is not fresh, links: $links" >&2
  exit 1
fi

holder=""
cleanup() {
  if [ -n "$holder" ]; then
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# A second namespace for the veth peers, so that the layout's namespace holds
# exactly the interfaces it names.
start_holder() {
  unshare -n sleep 120 &
  holder=$!
  local self
  self=$(readlink /proc/self/ns/net)
  for _ in $(seq 100); do
    if [ "$(readlink "/proc/$holder/ns/net" 2>/dev/null)" != "$self" ]; then return 0; fi
    sleep 0.05
  done
  echo "FAIL: peer namespace did not come up" >&2
  exit 1
}

# link NAME [up|down] [peer-down]: a veth end NAME here, its peer over there.
link() {
  local name=$1 state=${2:-up} peer=${3:-peer-up}
  [ -n "$holder" ] || start_holder
  ip link add "$name" type veth peer name "p-$name" netns "$holder"
  if [ "$peer" = peer-up ]; then
    nsenter --net="/proc/$holder/ns/net" ip link set "p-$name" up
  fi
  ip link set "$name" "$state"
}

ip link set lo up
case "$layout" in
  OnlyLoopback) ;;
  OneInterface)
    link n0
    ip addr add 10.0.2.15/23 dev n0 ;;
  FirstWithoutAddress)
    link n9
    link n1
    ip addr add 10.0.2.15/23 dev n1 ;;
  IndexOrder)
    # Created first, so listed first although its name sorts last.
    link n9
    link n1
    ip addr add 198.18.9.1/24 dev n9
    ip addr add 10.0.2.15/23 dev n1 ;;
  DownInterface)
    link n0 down
    link n1
    ip addr add 10.0.2.15/23 dev n0
    ip addr add 198.18.4.20/22 dev n1 ;;
  OnlyDown)
    link n0 down
    ip addr add 10.0.2.15/23 dev n0 ;;
  NoCarrier)
    link n0 up peer-down
    ip addr add 10.0.2.15/23 dev n0 ;;
  TwoAddresses)
    link n0
    ip addr add 10.0.2.15/23 dev n0
    ip addr add 198.18.6.1/24 dev n0 ;;
  LabelledAddress)
    link n0
    ip addr add 10.0.2.15/23 dev n0 label n0:lab ;;
  *) echo "unknown layout: $layout" >&2; exit 2 ;;
esac

export ZN7QX_DISCOVERY_LAYOUT=$layout
status=0
"$@" || status=$?
exit "$status"
