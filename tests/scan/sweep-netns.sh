#!/usr/bin/env bash
# One case of the real zn7qx-scan against the simulated network. Runs inside
# the probe namespace that tests/netns/with-sim-network.sh builds, and checks
# that it is there, isolated, before anything is sent.
#   sweep-netns.sh CASE ZN7QX_SCAN EXPECTED_FILE
set -uo pipefail

case_name=$1 scan=$2 expected=${3:-}

fail() { echo "sweep-netns[$case_name]: FAIL: $*" >&2; exit 1; }

# --- isolation first ----------------------------------------------------------
[ "${ZN7QX_TEST_NETNS:-}" = 1 ] || fail "not inside the test harness (run under with-sim-network.sh)"
links=$(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | sort | tr '\n' ' ')
[ "$links" = "lo ${ZN7QX_PROBE_IF:?} " ] || fail "not isolated: links are: $links"
ip -4 route show table all | grep -q '^default' && fail "not isolated: there is a default route"
ip -6 route show table all 2>/dev/null | grep -q '^default' && fail "not isolated: there is an IPv6 default route"

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

run() {
  "$scan" "$@" >"$out" 2>"$err"
  status=$?
}
expect_status() { [ "$status" = "$1" ] || { cat "$err" >&2; fail "exit status $status, wanted $1"; }; }
expect_output() {
  diff -u "$1" "$out" >&2 || fail "standard output differs from $1"
}
expect_in() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "missing: $2"; }; }

case "$case_name" in
  all)
    # Units, hosts and errors of the site, nothing of the tricks.
    run 198.18.0.0/24 --all
    expect_status 0
    expect_output "$expected"
    expect_in "$err" "Completed scanning. 5 ZN7QX unit(s) found. 256 addresses: 13 other hosts, 4 errors, 234 silent;"
    ;;
  flood)
    # The same site while forged, stale (past their time-out), broken and
    # foreign ICMP pours in; slow enough that stale answers arrive mid-sweep.
    run 198.18.0.0/24 --all --rate 400
    expect_status 0
    expect_output "$expected"
    ;;
  units)
    # The default listing: units only, in the window's form, and several ranges.
    run 198.18.0.40-198.18.0.45 198.18.0.10,198.18.0.11/32 198.18.0.30-198.18.0.39
    expect_status 0
    grep -E '^[0-9.]+: ' "$expected" | grep -E '^198\.18\.0\.(1[01]|3[0-9]|4[0-5]):' >"$err.want"
    expect_output "$err.want"
    rm -f "$err.want"
    ;;
  formats)
    run 198.18.0.10-198.18.0.12 198.18.0.32 198.18.0.40 --csv --all -q
    expect_status 0
    [ ! -s "$err" ] || fail "--quiet still wrote to standard error"
    printf '%s\r\n' "address,kind,text,status,status_text,rtt_ms" >"$out.want"
    head -n1 "$out" | cmp -s - "$out.want" || fail "CSV header: $(head -n1 "$out")"
    rm -f "$out.want"
    expect_in "$out" "198.18.0.10,unit,Unit-7 (hall A),0,Success!,"
    expect_in "$out" "198.18.0.32,error,,11003,Destination Host Unreachable,"
    expect_in "$out" '198.18.0.40,unit,\x1b[31mRed\x0d\x0a\x07\xff\\,0,Success!,'
    [ "$(wc -l <"$out")" = 5 ] || fail "CSV rows: $(cat "$out")"
    run 198.18.0.10-198.18.0.12 198.18.0.40 --json
    expect_status 0
    expect_in "$out" '"ranges": ['
    expect_in "$out" '"198.18.0.10-198.18.0.12"'
    expect_in "$out" '"text": "Unit-12 (hall B)"'
    expect_in "$out" '"text": "\u001b[31mRed\r\n\u0007ÿ\\"'
    expect_in "$out" '"units": 3'
    ;;
  none)
    # Silent and misleading addresses only: no unit, status 1, nothing on stdout.
    run 198.18.0.30 198.18.0.35-198.18.0.39 198.18.0.100-198.18.0.120
    expect_status 1
    [ ! -s "$out" ] || fail "output for no units: $(cat "$out")"
    expect_in "$err" "Completed scanning. No ZN7QX units found. 27 addresses: 0 other hosts, 0 errors, 27 silent;"
    ;;
  default-range)
    # No range: the probe interface's subnet, as the window's Default Range.
    run --json -q
    expect_status 0
    expect_in "$out" '"198.18.0.0-198.18.0.255"'
    expect_in "$out" '"addresses": 256'
    ;;
  bad-usage)
    for bad in "198.18.0.9-198.18.0.1" "198.18.0.0/33" "nonsense" "0.0.0.0" "255.255.255.255" "198.19.0.0/15"; do
      run "$bad"
      expect_status 2
      [ ! -s "$out" ] || fail "output for bad range $bad"
    done
    run --rate 1000000 198.18.0.10
    expect_status 2
    for rate in nan inf -5; do
      run --rate "$rate" 198.18.0.10
      expect_status 2
    done
    run --bogus
    expect_status 2
    ;;
  no-echo)
    run 198.18.0.10
    expect_status 3
    expect_in "$err" "not permitted"
    expect_in "$err" "ping_group_range"
    expect_in "$err" "cap_net_raw"
    ;;
  wrap)
    # 65792 addresses: more requests than sequence numbers.
    run 198.18.0.0/24 198.19.0.0/16 --max-addresses 70000 --all
    expect_status 0
    grep -E '^[0-9.]+: ' "$out" >"$out.units"
    printf '%s\n' "198.18.0.10: Unit-7 (hall A)" "198.19.0.1: Unit-1" "198.19.128.5: Unit-3" "198.19.255.254: Unit-4" |
      diff -u - "$out.units" >&2 || fail "units of the wrap sweep"
    rm -f "$out.units"
    # 8192 hosts in 198.19.0.0/19 less the unit and the late one, plus the prober itself.
    [ "$(grep -c ' host$' "$out")" = $((8192 - 1 - 1 + 1)) ] || fail "hosts: $(grep -c ' host$' "$out")"
    [ "$(grep -c '^198\.19\.200\.[0-9]* error: Destination Host Unreachable$' "$out")" = 256 ] || fail "errors of 198.19.200.0/24"
    grep -q '^198\.19\.9\.9 ' "$out" && fail "the late answer was taken"
    run 198.18.0.0/24 198.19.0.0/16
    expect_status 2
    expect_in "$err" "65792 addresses, more than the limit of 65536"
    ;;
  *) fail "unknown case" ;;
esac
echo "sweep-netns[$case_name]: ok"
