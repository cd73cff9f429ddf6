#!/usr/bin/env bash
# zn7qx-sim and the tests' isolation check refuse namespaces that could
# reach a network, and accept the isolated ones. Nothing is sent: the
# namespaces made here have a dummy link or a veth looped back to itself.
# Usage: isolation-refusal-test.sh SIM ISOLATION-REPORT
set -uo pipefail
sim=$1 report=$2
failures=0
expect() {  # expect NAME WANTED-STATUS COMMAND...
  local name=$1 want=$2 out status; shift 2
  out=$("$@" 2>&1) && status=0 || status=$?
  if [ "$status" = "$want" ]; then echo "ok   $name"; else
    echo "FAIL $name: status $status, wanted $want:"; echo "$out"; failures=$((failures + 1)); fi
}

ns=(unshare --net)
[ "$(id -u)" -ne 0 ] && ns=(unshare --user --map-root-user --net)
"${ns[@]}" true 2>/dev/null || { echo "SKIP: cannot create network namespaces here"; exit 77; }

# Here, outside any test namespace: refused whenever there is a real link.
if [ "${ZN7QX_TEST_NETNS:-}" != 1 ] && ip -o link show | awk -F': ' '{print $2}' | grep -qv '^lo$'; then
  expect "sim refuses this namespace" 3 "$sim" --check-isolation
  expect "sim refuses to serve here" 3 "$sim" --no-sysctl --max-seconds 1
  expect "check reports this namespace" 3 env -u ZN7QX_PROBE_IF "$report"
fi

export SIM=$sim REPORT=$report
# A link that is neither loopback nor veth, of whatever kind this kernel has.
export ADDLINK='ip link add zq-other type dummy 2>/dev/null || ip link add zq-other type bridge 2>/dev/null || ip link add zq-other type ifb'
expect "only loopback: accepted" 0 "${ns[@]}" sh -c '"$SIM" --check-isolation && "$REPORT"'
expect "other link: sim refuses" 3 "${ns[@]}" sh -c 'eval "$ADDLINK" && "$SIM" --check-isolation'
expect "other link: check reports" 3 "${ns[@]}" sh -c 'eval "$ADDLINK" && "$REPORT"'
expect "other link named as the probe's: check reports" 3 "${ns[@]}" sh -c 'eval "$ADDLINK" && ZN7QX_PROBE_IF=zq-other "$REPORT"'
# Refused before it changes anything: the kernel still answers echoes there.
expect "other link: sim leaves the sysctl alone" 0 "${ns[@]}" sh -c '
  eval "$ADDLINK" || exit 1
  "$SIM" --max-seconds 1; [ $? = 3 ] || exit 1
  [ "$(cat /proc/sys/net/ipv4/icmp_echo_ignore_all)" = 0 ]'
loop='ip link add zq-a type veth peer name zq-b && ip addr add 198.18.5.1/24 dev zq-a &&
      ip link set zq-a up && ip link set zq-b up'
expect "veth pair: sim accepts" 0 "${ns[@]}" sh -c "$loop"' && "$SIM" --check-isolation'
expect "veth pair: check wants only the named one" 3 "${ns[@]}" sh -c "$loop"' && ZN7QX_PROBE_IF=zq-a "$REPORT"'
expect "default route: sim refuses" 3 "${ns[@]}" sh -c "$loop"' && ip route add default via 198.18.5.2 && "$SIM" --check-isolation'
# The harness's shape: one veth whose peer is in a second namespace of ours.
# The peer's namespace lives as long as a sleeping process, ended by its pid.
pair='unshare --net sleep 30 & h=$!
      for i in $(seq 100); do [ "$(readlink /proc/$h/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.02; done
      ip link add zq-a type veth peer name zq-b netns $h && ip addr add 198.18.5.1/24 dev zq-a && ip link set zq-a up'
expect "one veth: check accepts" 0 "${ns[@]}" sh -c "$pair"' &&
      ZN7QX_PROBE_IF=zq-a ZN7QX_TEST_RANGES=198.18.5.0/24 "$REPORT"; rc=$?; kill $h; exit $rc'
expect "one veth, default route: check reports" 3 "${ns[@]}" sh -c "$pair"' && ip route add default via 198.18.5.2 &&
      ZN7QX_PROBE_IF=zq-a ZN7QX_TEST_RANGES=198.18.5.0/24 "$REPORT"; rc=$?; kill $h; exit $rc'
expect "one veth, route beyond the ranges: check reports" 3 "${ns[@]}" sh -c "$pair"' && ip route add 198.20.0.0/16 via 198.18.5.2 &&
      ZN7QX_PROBE_IF=zq-a ZN7QX_TEST_RANGES=198.18.5.0/24 "$REPORT"; rc=$?; kill $h; exit $rc'
echo "$failures failed"
[ "$failures" = 0 ]
