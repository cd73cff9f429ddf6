#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs the whole suite.
# ZN7QX_SANITIZE=1 builds into build-asan with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
ZN7QX_WITH_TEST_TOOLS=1 scripts/install-deps.sh
dir=build flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZN7QX_SANITIZE=OFF)
# The sanitizers' build at -O1: a third quicker to compile, and still fast.
if [ "${ZN7QX_SANITIZE:-0}" = 1 ]; then
  dir=build-asan flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" -DZN7QX_SANITIZE=ON)
fi
# promtool, which checks the watch's metrics files: a package of its own on
# newer releases, part of the server's package on older ones. Either way it
# is taken out of the package, not installed (which would start a server).
fetch_promtool() {
  local package
  for package in promtool prometheus; do
    apt-get download "$package" >/dev/null 2>&1 || continue
    dpkg-deb -x "$package"_*.deb unpacked && [ -x unpacked/usr/bin/promtool ] && mv unpacked/usr/bin/promtool . && return
  done
  return 1
}
if [ ! -x "$dir/test-tools/promtool" ] && ! command -v promtool >/dev/null; then
  mkdir -p "$dir/test-tools"
  (cd "$dir/test-tools" && { fetch_promtool || { apt-get update -qq && fetch_promtool; }; }; rm -rf unpacked ./*.deb
   [ -x promtool ]) || { echo "test.sh: cannot fetch promtool (package promtool or prometheus)" >&2; exit 1; }
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" -DZN7QX_BUILD_GUI=ON -DZN7QX_BUILD_TESTS=ON -DZN7QX_FUZZ=OFF >/dev/null
cmake --build "$dir"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure -j2 "$@"
