#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and
# runs each for a bounded time from its checked-in seed corpus, then prints
# the executions per target. A crash, a failed property or a leak fails.
#   ZN7QX_FUZZ_SECONDS  time per target (default 60)
#   ZN7QX_FUZZ_DIR      build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${ZN7QX_FUZZ_SECONDS:-60}
dir=${ZN7QX_FUZZ_DIR:-build-fuzz}
# clang++ is the release's default clang (the clang package).
cxx=${ZN7QX_FUZZ_CXX:-$(command -v clang++ || true)}
if [ -z "$cxx" ]; then
  echo "fuzz.sh: clang++ is not installed (scripts/install-deps.sh with ZN7QX_WITH_TEST_TOOLS=1)" >&2
  exit 1
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DZN7QX_FUZZ=ON -DZN7QX_BUILD_TESTS=OFF -DZN7QX_BUILD_GUI=OFF >/dev/null
cmake --build "$dir" --target zn7qx_fuzzers

# target, seed corpus, largest input
targets=(
  "fuzz_packets packets 1600"
)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# One target for its time; its outcome goes to the work folder's "result".
run_target() {
  local name=$1 seeds=$2 maxlen=$3
  local binary="$dir/fuzz/$name" work="$dir/fuzz-work/$name"
  mkdir -p "$work/corpus" "$work/artifacts"
  : >"$work/log"
  rm -f "$work/result"
  if [ ! -x "$binary" ]; then
    echo "FAILED: not built" >"$work/result"
    return
  fi
  # New inputs go to the work corpus; the checked-in seeds stay untouched.
  if "$binary" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      "$work/corpus" "fuzz/corpus/$seeds" >"$work/log" 2>&1; then
    echo ok >"$work/result"
  else
    echo FAILED >"$work/result"
  fi
}

# The targets run side by side, each for its whole time, sharing the cores.
pids=()
for entry in "${targets[@]}"; do
  read -r name seeds maxlen <<<"$entry"
  run_target "$name" "$seeds" "$maxlen" &
  pids+=($!)
done
wait "${pids[@]}"

summary=() failed=0
for entry in "${targets[@]}"; do
  read -r name seeds maxlen <<<"$entry"
  work="$dir/fuzz-work/$name"
  log="$work/log"
  result=$(cat "$work/result")
  if [ "$result" != ok ]; then
    failed=1
    tail -n 40 "$log" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1 || true)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  summary+=("$(printf '%-21s %-6s %12s execs  %8s/s  cov %s  (%ss)' "$name" "$result" "${execs:-?}" \
    "${rate:-?}" "${cov:-?}" "$seconds")")
done
echo "fuzzing summary:"
printf '  %s\n' "${summary[@]}"
exit "$failed"
