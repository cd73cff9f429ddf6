#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The watch's systemd unit as systemd itself judges it: verify finds nothing,
# and the sandbox's exposure is 2.0 or less ("OK"). The unit's zn7qx-scan is
# the built one, since none is installed here. Also the example alerting
# rules, as promtool reads them.
#   check-service.sh UNIT ZN7QX_SCAN PROMTOOL ALERT_RULES
set -uo pipefail
unit=$1 scan=$(readlink -f "$2") promtool=$3 rules=$4
fail() { echo "check-service: FAIL: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed" >&2; exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
sed -E "s#^ExecStart=[^ ]*/zn7qx-scan #ExecStart=$scan #" "$unit" >"$work/zn7qx-watch@.service"
grep -q "^ExecStart=$scan " "$work/zn7qx-watch@.service" || fail "no ExecStart of zn7qx-scan"
said=$(cd "$work" && systemd-analyze verify --man=no ./zn7qx-watch@site.service 2>&1)
[ -z "$said" ] || fail "systemd-analyze verify: $said"
(cd "$work" && systemd-analyze security --offline=true --threshold=20 ./zn7qx-watch@site.service >"$work/security" 2>&1) ||
  fail "exposure over 2.0: $(cat "$work/security")"
grep 'Overall exposure level' "$work/security"
"$promtool" check rules "$rules" >/dev/null || fail "promtool check rules $rules"
echo "check-service: ok"
