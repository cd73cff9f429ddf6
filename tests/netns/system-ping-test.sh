#!/usr/bin/env bash
# The system's ping against the simulated network: what any prober sees.
# Usage: system-ping-test.sh HARNESS SIM CONFIG
set -euo pipefail
harness=$1 sim=$2 config=$3
command -v ping >/dev/null || { echo "SKIP: ping (iputils-ping) is not installed"; exit 77; }

exec "$harness" --sim "$sim" --config "$config" --routed 198.19.0.0/16 -- bash -c '
  set -u
  failures=0
  check() {  # check NAME EXPECTED-STATUS PATTERN ping-args...
    local name=$1 want=$2 pattern=$3 out status; shift 3
    out=$(ping -n "$@" 2>&1) && status=0 || status=$?
    if [ "$status" != "$want" ] || ! grep -qE "$pattern" <<<"$out"; then
      echo "FAIL $name: status $status (wanted $want), output:"; echo "$out"; failures=$((failures + 1))
    else
      echo "ok   $name"
    fi
  }
  check unit          0 "20 bytes from 198.18.0.10"           -c1 -W1 198.18.0.10
  check host          0 "64 bytes from 198.18.0.20"           -c1 -W1 198.18.0.20
  check silent        1 "0 received"                          -c1 -W1 198.18.0.25
  check unlisted      1 "0 received"                          -c1 -W1 198.18.0.77
  check late          0 "time=4[5-9][0-9]"                    -c1 -W2 198.18.0.30
  check duplicate     0 "DUP!"                                -c2 -i0.2 -w2 198.18.0.31
  check unreachable   1 "From [0-9.]+ .*Destination Host Unreachable" -c1 -W1 198.18.0.32
  check ttl-exceeded  1 "From 198.18.0.33 .*Time to live exceeded" -c1 -W1 198.18.0.33
  check routed        0 "64 bytes from 198.19.3.4"            -c1 -W1 198.19.3.4
  [ "$failures" = 0 ]
'
