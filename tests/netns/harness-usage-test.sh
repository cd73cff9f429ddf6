#!/usr/bin/env bash
# The harness: bad options are refused, COMMAND's status and environment come
# through, CAP_NET_RAW is dropped on request, and everything stops by itself.
# Usage: harness-usage-test.sh HARNESS SIM
set -uo pipefail
harness=$1 sim=$2
failures=0
expect() {  # expect NAME WANTED-STATUS COMMAND...
  local name=$1 want=$2 out status; shift 2
  out=$("$@" 2>&1) && status=0 || status=$?
  if [ "$status" = "$want" ]; then echo "ok   $name"; else
    echo "FAIL $name: status $status, wanted $want:"; echo "$out"; failures=$((failures + 1)); fi
}
h() { "$harness" --sim "$sim" "$@"; }

expect "help" 0 h --help
expect "no command" 2 h
expect "unknown option" 2 h --colour -- true
expect "network address as probe" 2 h --probe-cidr 198.18.0.0/24 -- true
expect "prefix too long" 2 h --probe-cidr 198.18.0.1/31 -- true
expect "not an address" 2 h --probe-cidr 198.18.0.256/24 -- true
expect "routed range over the probe" 2 h --routed 198.18.0.0/16 -- true
expect "ping sockets maybe" 2 h --ping-sockets maybe -- true
expect "missing config" 2 h --config /nonexistent/config.json -- true

h -- true >/dev/null 2>&1; st=$?
if [ "$st" = 77 ]; then echo "SKIP: no namespaces here"; exit 77; fi
expect "status comes through" 5 h -- sh -c 'exit 5'
# The inner stage asked for from outside must refuse before it touches
# anything; tried in a throwaway namespace so that a regression harms nothing.
throwaway=(unshare --net); [ "$(id -u)" -ne 0 ] && throwaway=(unshare --user --map-root-user --net)
expect "inner stage refused from outside" 2 "${throwaway[@]}" -- "$harness" --sim "$sim" --inside -- true
expect "environment" 0 h --probe-cidr 198.18.4.9/22 --routed 198.19.0.0/16 -- sh -c '
  [ "$ZN7QX_TEST_NETNS" = 1 ] && [ "$ZN7QX_PROBE_IF" = zn7qx-probe ] && [ "$ZN7QX_PROBE_ADDRESS" = 198.18.4.9 ] &&
  [ "$ZN7QX_SIM_GATEWAY" = 198.18.7.254 ] && [ "$ZN7QX_TEST_RANGES" = "198.18.4.0/22 198.19.0.0/16" ] &&
  ip -4 addr show zn7qx-probe | grep -q "198.18.4.9/22"'
expect "raw capability kept" 0 h -- sh -c '[ $(( 0x$(awk "/^CapEff/ {print \$2}" /proc/self/status) >> 13 & 1 )) = 1 ]'
expect "raw capability dropped" 0 h --unprivileged -- sh -c '[ $(( 0x$(awk "/^CapEff/ {print \$2}" /proc/self/status) >> 13 & 1 )) = 0 ] &&
  [ $(( 0x$(awk "/^CapBnd/ {print \$2}" /proc/self/status) >> 13 & 1 )) = 0 ]'
expect "ping sockets off" 0 h --ping-sockets off -- sh -c '[ "$(cat /proc/sys/net/ipv4/ping_group_range)" = "1	0" ]'
expect "ping sockets on" 0 h --ping-sockets on -- sh -c 'set -- $(cat /proc/sys/net/ipv4/ping_group_range); [ "$1" -le "$(id -g)" ] && [ "$2" -ge "$(id -g)" ]'
log=$(mktemp)
expect "simulator stopped afterwards" 0 h --sim-log "$log" -- true
grep -q "zn7qx-sim: stopped (Terminated)" "$log" || { echo "FAIL: no stop line in the simulator's log:"; cat "$log"; failures=$((failures + 1)); }
grep -q "zn7qx-sim counters:" "$log" || { echo "FAIL: no counters"; failures=$((failures + 1)); }
rm -f "$log"
start=$(date +%s)
expect "stops by itself" 124 h --max-seconds 2 -- sleep 60
[ $(( $(date +%s) - start )) -lt 20 ] || { echo "FAIL: took too long to stop"; failures=$((failures + 1)); }
echo "$failures failed"
[ "$failures" = 0 ]
