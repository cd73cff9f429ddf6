#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds nothing: runs bench-window from a build directory inside the
# simulated network (ping sockets on, then off for the raw path). With
# --reader, on an X server with the accessibility bus instead, where each
# scan runs again while a screen reader reads the window over and over
# (tools/screen-reader/reader.py), ping sockets only.
#   tools/bench-window/run.sh [BUILD_DIR] [--reader] [-- bench-window options]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build}"
[ $# -gt 0 ] && shift
paths=(on off) around=(env QT_QPA_PLATFORM=offscreen) reader=()
if [ "${1:-}" = "--reader" ]; then
  shift
  paths=(on) around=("$root/tools/screen-reader/with-a11y-bus.sh")
  reader=(--reader "/usr/bin/python3 \"$root/tools/screen-reader/reader.py\" bench-window")
fi
[ "${1:-}" = "--" ] && shift
bench="$build/tools/bench-window/bench-window"
sim="$build/tools/zn7qx-sim/zn7qx-sim"
[ -x "$bench" ] || { echo "run.sh: no $bench (build first)" >&2; exit 2; }
status=0
for sockets in "${paths[@]}"; do
  echo "== ping sockets $sockets"
  rc=0
  "$root/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$here/bench-network.json" \
    --ping-sockets "$sockets" -- "${around[@]}" "$bench" "${reader[@]}" "$@" || rc=$?
  # No namespaces here: a skip, unless the first path already failed.
  if [ "$rc" = 77 ]; then [ "$status" = 0 ] && exit 77; break; fi
  [ "$rc" != 0 ] && status=$rc
done
exit "$status"
