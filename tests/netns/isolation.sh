#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The isolation check, the simulator's and the probe side's, refuses namespaces
# that could reach a network and takes the harness's. Nothing is sent: the
# namespaces here hold a dummy link or a veth to ours.  isolation.sh ZN7QX_SIM
set -uo pipefail
sim=$1 failures=0
expect() {  # NAME WANTED-STATUS COMMAND...
  local name=$1 want=$2 out status; shift 2
  out=$("$@" 2>&1) && status=0 || status=$?
  if [ "$status" = "$want" ]; then echo "ok   $name"; else
    echo "FAIL $name: status $status, wanted $want:"; echo "$out"; failures=$((failures + 1)); fi
}
ns=(unshare --net); [ "$(id -u)" -ne 0 ] && ns=(unshare --user --map-root-user --net)
"${ns[@]}" true 2>/dev/null || { echo "SKIP: cannot create network namespaces here"; exit 77; }

# Where this runs (not a test namespace): refused.
if ip -o link show | awk -F': ' '{print $2}' | grep -qv '^lo$'; then
  expect "the machine's own namespace" 3 "$sim" --check-isolation
fi
export SIM=$sim
other='ip link add zq-other type dummy 2>/dev/null || ip link add zq-other type bridge'
# A veth whose peer lives in a second namespace of ours, held by a sleeper.
veth='unshare --net sleep 30 & h=$!
  for i in $(seq 100); do [ "$(readlink /proc/$h/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.02; done
  ip link add zq-a type veth peer name zq-b netns $h && ip addr add 198.18.5.1/24 dev zq-a && ip link set zq-a up'
probe='"$SIM" --check-isolation --probe-link zq-a --ranges 198.18.5.0/24; rc=$?; kill $h; exit $rc'
expect "only loopback" 0 "${ns[@]}" sh -c '"$SIM" --check-isolation'
expect "another kind of link" 3 "${ns[@]}" sh -c "$other"' && "$SIM" --check-isolation'
expect "another link named as the probe's" 3 "${ns[@]}" sh -c "$other"' && "$SIM" --check-isolation --probe-link zq-other'
expect "refused before the sysctl is touched" 0 "${ns[@]}" sh -c "$other"' && { "$SIM" --link zq-other --max-seconds 1; [ $? = 3 ]; } &&
  [ "$(cat /proc/sys/net/ipv4/conf/zq-other/arp_ignore)" = 0 ]'
expect "the harness's veth" 0 "${ns[@]}" sh -c "$veth && $probe"
expect "a second link beside the probe's" 3 "${ns[@]}" sh -c "$veth && $other && $probe"
expect "a default route" 3 "${ns[@]}" sh -c "$veth && ip route add default via 198.18.5.2 && $probe"
expect "a route beyond the test's ranges" 3 "${ns[@]}" sh -c "$veth && ip route add 198.20.0.0/16 via 198.18.5.2 && $probe"
echo "$failures failed"
[ "$failures" = 0 ]
