#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds nothing: runs bench-window from a build directory inside the
# simulated network (ping sockets on, then off for the raw path).
#   tools/bench-window/run.sh [BUILD_DIR] [-- bench-window options]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build}"
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
bench="$build/tools/bench-window/bench-window"
sim="$build/tools/zn7qx-sim/zn7qx-sim"
[ -x "$bench" ] || { echo "run.sh: no $bench (build first)" >&2; exit 2; }
status=0
for sockets in on off; do
  echo "== ping sockets $sockets"
  rc=0
  "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/bench-network.json" \
    --ping-sockets "$sockets" -- env QT_QPA_PLATFORM=offscreen "$bench" "$@" || rc=$?
  # No namespaces here: a skip, unless the first path already failed.
  if [ "$rc" = 77 ]; then [ "$status" = 0 ] && exit 77; break; fi
  [ "$rc" != 0 ] && status=$rc
done
exit "$status"
