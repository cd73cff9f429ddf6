#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs COMMAND in an isolated "probe" network namespace whose only link is a
# veth to a "network" namespace where zn7qx-sim answers for the targets.
# Nothing here touches the machine's own namespace: the whole topology lives
# inside fresh namespaces (user namespace too when not root) that die with
# this script's processes, and the probe side is checked before COMMAND runs.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: with-sim-network.sh [options] -- COMMAND [ARGS...]

Builds an isolated topology, starts zn7qx-sim behind a veth, runs COMMAND on
the probe side, tears everything down and exits with COMMAND's status
(77 when network namespaces cannot be made here).

  --sim PATH           zn7qx-sim binary (default: $ZN7QX_SIM, else the
                       newest build*/tools/zn7qx-sim/zn7qx-sim of this repo)
  --config FILE        simulator configuration (JSON), repeatable: each file is
                       laid over the ones before (e.g. a flood over a site);
                       none = all silent
  --probe-cidr A/N     the probe interface's address (default 198.18.0.1/24);
                       the rest of that subnet is on-link and simulated
  --routed CIDR        extra target range routed to the simulator through one
                       gateway (repeatable), e.g. 198.19.0.0/16
  --ping-sockets on|off
                       whether ping_group_range admits COMMAND's group
                       (unprivileged ICMP datagram sockets); default on
  --unprivileged       run COMMAND without CAP_NET_RAW
  --sim-log FILE       the simulator's output goes here (default: stderr)
  --sim-arg ARG        extra argument for zn7qx-sim (repeatable)
  --sim-nice N         run zn7qx-sim at this nice level (e.g. -10, so that a
                       loaded machine delays the prober, not the network)
  --max-seconds N      everything stops by itself after N s (default 900)

COMMAND sees ZN7QX_TEST_NETNS=1, ZN7QX_PROBE_IF (its veth), ZN7QX_PROBE_ADDRESS,
ZN7QX_PROBE_CIDR, ZN7QX_SIM_GATEWAY (next hop of the routed ranges, also the
default source of ICMP errors) and ZN7QX_TEST_RANGES (all simulated CIDRs).
USAGE
}

die() { echo "with-sim-network: $*" >&2; exit 2; }
skip() { echo "with-sim-network: SKIP: $*" >&2; exit 77; }

PROBE_IF=zn7qx-probe
NET_IF=zn7qx-net

sim="${ZN7QX_SIM:-}" probe_cidr=198.18.0.1/24 ping_sockets=on unprivileged=0
sim_log="" max_seconds=900 inside=0 sim_nice=0
routed=() sim_args=() configs=()
args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --inside) inside=1 ;;
    --sim) sim="${2:?--sim needs a path}"; shift ;;
    --config) configs+=("${2:?--config needs a file}"); shift ;;
    --probe-cidr) probe_cidr="${2:?--probe-cidr needs A.B.C.D/N}"; shift ;;
    --routed) routed+=("${2:?--routed needs a CIDR}"); shift ;;
    --ping-sockets) ping_sockets="${2:?--ping-sockets needs on or off}"; shift ;;
    --unprivileged) unprivileged=1 ;;
    --sim-log) sim_log="${2:?--sim-log needs a file}"; shift ;;
    --sim-arg) sim_args+=("${2?--sim-arg needs a value}"); shift ;;
    --sim-nice) sim_nice="${2:?--sim-nice needs a number}"; shift ;;
    --max-seconds) max_seconds="${2:?--max-seconds needs a number}"; shift ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    *) usage >&2; die "unknown option: $1" ;;
  esac
  shift
done
[ $# -gt 0 ] || { usage >&2; die "no COMMAND given"; }
command_line=("$@")

# --- address arithmetic -----------------------------------------------------
ip_to_int() {
  local IFS=. a b c d
  read -r a b c d <<<"$1"
  echo $(( (a << 24) | (b << 16) | (c << 8) | d ))
}
int_to_ip() { echo "$(( ($1 >> 24) & 255 )).$(( ($1 >> 16) & 255 )).$(( ($1 >> 8) & 255 )).$(( $1 & 255 ))"; }
valid_ip() {
  [[ "$1" =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] || return 1
  local o; for o in "${BASH_REMATCH[@]:1}"; do [ "$((10#$o))" -le 255 ] || return 1; done
}
valid_cidr() {
  [[ "$1" =~ ^([0-9.]+)/([0-9]{1,2})$ ]] || return 1
  local bits=${BASH_REMATCH[2]}
  valid_ip "${BASH_REMATCH[1]}" && [ "$((10#$bits))" -le 32 ]
}
# "first last" of a CIDR, as numbers.
cidr_bounds() {
  local ip=${1%/*} bits=${1#*/} n mask
  n=$(ip_to_int "$ip")
  mask=$(( bits == 0 ? 0 : (0xFFFFFFFF << (32 - bits)) & 0xFFFFFFFF ))
  echo "$(( n & mask )) $(( (n & mask) | (~mask & 0xFFFFFFFF) ))"
}
valid_cidr "$probe_cidr" || die "--probe-cidr is not A.B.C.D/N: $probe_cidr"
probe_bits=${probe_cidr#*/}
{ [ "$probe_bits" -ge 8 ] && [ "$probe_bits" -le 30 ]; } || die "--probe-cidr needs a prefix from /8 to /30"
probe_ip=${probe_cidr%/*}
read -r net_first net_last <<<"$(cidr_bounds "$probe_cidr")"
probe_net="$(int_to_ip "$net_first")/$probe_bits"
pn=$(ip_to_int "$probe_ip")
{ [ "$pn" -gt "$net_first" ] && [ "$pn" -lt "$net_last" ]; } || die "--probe-cidr must be a host address of its subnet"
# The routed ranges' next hop: the subnet's last host address (or the one
# below it when that is the probe).
gw_n=$(( net_last - 1 )); [ "$gw_n" -eq "$pn" ] && gw_n=$(( net_last - 2 ))
gateway=$(int_to_ip "$gw_n")
for r in ${routed[@]+"${routed[@]}"}; do
  valid_cidr "$r" || die "--routed is not A.B.C.D/N: $r"
  [ "${r#*/}" -ge 8 ] || die "--routed range too wide (at most a /8): $r"
  read -r rf rl <<<"$(cidr_bounds "$r")"
  { [ "$pn" -lt "$rf" ] || [ "$pn" -gt "$rl" ]; } || die "--routed $r holds the probe's own address"
done
case "$ping_sockets" in on|off) ;; *) die "--ping-sockets takes on or off" ;; esac
[[ "$max_seconds" =~ ^[0-9]+$ ]] && [ "$max_seconds" -ge 1 ] || die "--max-seconds takes a whole number of seconds"

if [ -z "$sim" ]; then
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  sim=$(ls -t "$repo"/build*/tools/zn7qx-sim/zn7qx-sim 2>/dev/null | head -n1 || true)
  [ -n "$sim" ] || sim=$(command -v zn7qx-sim || true)
  [ -n "$sim" ] || die "no zn7qx-sim found: build it, or give --sim PATH"
fi
[ -x "$sim" ] || die "--sim is not an executable: $sim"
for c in ${configs[@]+"${configs[@]}"}; do [ -r "$c" ] || die "cannot read --config $c"; done

# --- stage 0: into fresh namespaces -----------------------------------------
if [ "$inside" = 0 ]; then
  for tool in ip unshare nsenter setpriv timeout; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (iproute2/util-linux/coreutils)"
  done
  # A new PID namespace with its own /proc: when this script's process goes,
  # the kernel ends everything started inside, namespaces included.
  ns=(--net --pid --mount --fork --kill-child --mount-proc)
  if [ "$(id -u)" -ne 0 ]; then ns=(--user --map-root-user "${ns[@]}"); fi
  if ! unshare "${ns[@]}" true 2>/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then skip "cannot create network namespaces here (unshare --net failed)"; fi
    skip "not root and unprivileged user namespaces are not available (kernel.unprivileged_userns_clone / user.max_user_namespaces)"
  fi
  me=$(readlink -f "${BASH_SOURCE[0]}")
  # Absolute paths: the inner stage runs with the same working directory, but be safe.
  sim=$(readlink -f "$sim")
  exec unshare "${ns[@]}" -- env ZN7QX_SIM="$sim" ZN7QX_OUTER_NETNS="$(readlink /proc/self/ns/net)" \
    bash "$me" --inside "${args[@]}"
fi

# --inside is only for the call above: everything below changes the network
# namespace it runs in, so it must be the fresh one, never the caller's.
outer=${ZN7QX_OUTER_NETNS:-}
here_ns=$(readlink /proc/self/ns/net)
{ [ -n "$outer" ] && [ "$here_ns" != "$outer" ] && [ "$$" = 1 ]; } ||
  die "--inside is internal: the inner stage must run in the fresh namespaces this script makes"

# --- stage 1: this is the "network" namespace, and PID 1 of a new PID namespace
hold="" simpid="" tmp=""
cleanup() {
  set +e
  if [ -n "$simpid" ] && kill -0 "$simpid" 2>/dev/null; then
    kill -TERM "$simpid"
    for _ in $(seq 50); do kill -0 "$simpid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$simpid" 2>/dev/null
    wait "$simpid" 2>/dev/null
  fi
  simpid=""
  if [ -n "$hold" ]; then kill -KILL "$hold" 2>/dev/null; wait "$hold" 2>/dev/null; hold=""; fi
  [ -n "$tmp" ] && rm -rf "$tmp"
  tmp=""
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() { echo "with-sim-network: $*" >&2; exit 1; }
setsys() { echo "$2" >"/proc/sys/$1" 2>/dev/null; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zn7qx-simnet.XXXXXX")
ip link set lo up
setsys net/ipv6/conf/all/disable_ipv6 1 || true
setsys net/ipv6/conf/default/disable_ipv6 1 || true

# The probe namespace: held by a sleeping process, which it dies with.
unshare --net -- sleep "$(( max_seconds + 60 ))" &
hold=$!
for _ in $(seq 100); do
  [ "$(readlink "/proc/$hold/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.02
done
[ "$(readlink "/proc/$hold/ns/net")" != "$(readlink /proc/self/ns/net)" ] || fail "the probe namespace did not come up"
in_probe() { nsenter --target "$hold" --net -- "$@"; }

in_probe ip link set lo up
in_probe sh -c 'echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6' 2>/dev/null || true
ip link add "$NET_IF" type veth peer name "$PROBE_IF" netns "$hold"

# Network side: the simulator answers on the veth at layer 2, each host with
# a hardware address of its own; this kernel holds none of their addresses
# and answers no address resolution there.
setsys "net/ipv4/conf/$NET_IF/arp_ignore" 8 || fail "cannot keep the kernel from answering ARP on $NET_IF"
ip link set "$NET_IF" up

# Probe side.
in_probe ip addr add "$probe_cidr" dev "$PROBE_IF"
in_probe ip link set "$PROBE_IF" up
for r in ${routed[@]+"${routed[@]}"}; do in_probe ip route add "$r" via "$gateway" dev "$PROBE_IF"; done
if [ "$ping_sockets" = on ]; then
  # Inside a user namespace only the mapped group can be named.
  in_probe sh -c 'echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range' 2>/dev/null ||
    in_probe sh -c "echo '$(id -g) $(id -g)' >/proc/sys/net/ipv4/ping_group_range" ||
    fail "cannot enable ping sockets in the probe namespace"
else
  in_probe sh -c 'echo "1 0" >/proc/sys/net/ipv4/ping_group_range' || fail "cannot disable ping sockets"
fi
for _ in $(seq 100); do
  in_probe ip -o link show "$PROBE_IF" | grep -q LOWER_UP && break
  sleep 0.02
done

# --- the probe side must be isolated before anything is sent ---------------
ranges="${probe_net}${routed[@]+ ${routed[*]}}"
in_probe "$ZN7QX_SIM" --check-isolation --probe-link "$PROBE_IF" --ranges "$ranges" >/dev/null ||
  fail "the probe namespace is not isolated; nothing was sent"

# --- the simulator ----------------------------------------------------------
[[ "$sim_nice" =~ ^-?[0-9]+$ ]] || die "--sim-nice takes a whole number"
cmd_sim=(nice -n "$sim_nice" "$ZN7QX_SIM" --link "$NET_IF" --ready-file "$tmp/ready" --exclude "$probe_ip" --router "$gateway"
         --max-seconds "$(( max_seconds + 30 ))" ${sim_args[@]+"${sim_args[@]}"})
for c in ${configs[@]+"${configs[@]}"}; do cmd_sim+=(--config "$c"); done
if [ -n "$sim_log" ]; then "${cmd_sim[@]}" >"$sim_log" 2>&1 & else "${cmd_sim[@]}" >&2 & fi
simpid=$!
for _ in $(seq 500); do
  [ -e "$tmp/ready" ] && break
  kill -0 "$simpid" 2>/dev/null || break
  sleep 0.02
done
if [ ! -e "$tmp/ready" ]; then
  wait "$simpid" 2>/dev/null && st=0 || st=$?
  simpid=""
  fail "zn7qx-sim did not start (exit status $st${sim_log:+, see $sim_log})"
fi

# The router's hardware address is known before COMMAND starts, as a real
# machine's gateway's usually is: a first burst to the routed ranges would
# otherwise wait behind its resolution, and the kernel holds only so much.
if [ ${#routed[@]} -gt 0 ]; then
  in_probe bash -c "echo >/dev/udp/$gateway/9" 2>/dev/null || true
  for _ in $(seq 100); do
    in_probe ip neigh show "$gateway" dev "$PROBE_IF" | grep -q REACHABLE && break
    sleep 0.02
  done
fi

# --- COMMAND ----------------------------------------------------------------
run=(env ZN7QX_TEST_NETNS=1 ZN7QX_PROBE_IF="$PROBE_IF" ZN7QX_PROBE_ADDRESS="$probe_ip"
     ZN7QX_PROBE_CIDR="$probe_cidr" ZN7QX_SIM_GATEWAY="$gateway" ZN7QX_TEST_RANGES="$ranges")
if [ "$unprivileged" = 1 ]; then
  # Gone from the bounding set, CAP_NET_RAW cannot come back on exec.
  run=(setpriv --inh-caps=-all --bounding-set=-net_raw -- "${run[@]}")
fi
set +e
timeout --kill-after=5 "$max_seconds" nsenter --target "$hold" --net -- "${run[@]}" "${command_line[@]}"
status=$?
set -e
exit "$status"
