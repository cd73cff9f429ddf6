#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One case (case_NAME below) of the real zn7qx-scan on the probe side of the
# simulated site, as the simulator's check confirms first. Cases wait on
# events (a line written, a counter reached), never for a fixed time.
#   sweep.sh CASE ZN7QX_SCAN ZN7QX_SIM
set -uo pipefail
# Jobs in process groups of their own, as a terminal's: else SIGINT is ignored.
set -m
case_name=$1 scan=$2 sim=$3
fail() { echo "sweep[$case_name]: FAIL: $*" >&2; exit 1; }
"$sim" --check-isolation --probe-link "${ZN7QX_PROBE_IF:-none}" --ranges "${ZN7QX_TEST_RANGES:-}" >/dev/null ||
  fail "not in an isolated test network: nothing sent"

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err" "$out".*' EXIT
expect_status() { [ "$status" = "$1" ] || { cat "$err" >&2; fail "exit status $status, wanted $1"; }; }
# run STATUS ARGS...: the sweep with ARGS, which must end with STATUS.
run() { local want=$1; shift; "$scan" "$@" >"$out" 2>"$err"; status=$?; expect_status "$want"; }
expect_in() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "missing: $2"; }; }
# No control character (but line ends), nor a Unicode line break, in the file.
no_raw_controls() {
  python3 -c 'import sys; t = sys.stdin.buffer.read().decode()
sys.exit(any((ord(c) < 32 and c != "\n") or 127 <= ord(c) <= 159 or c in "\u2028\u2029" for c in t))' <"$1" ||
    fail "raw control characters: $(cat -v "$1")"
}
# Frames this namespace has sent on the link: at least one per request,
# whether the kernel resolves the link or the sweep does with frames of its own.
requests() { awk -v link="$ZN7QX_PROBE_IF:" '$1 == link { print $11 }' /proc/net/dev; }
# Polls COMMAND until it holds, for at most 10 s.
wait_for() { for _ in $(seq 200); do eval "$1" && return 0; sleep 0.05; done; fail "timed out waiting for: $1"; }
# Sends SIGNAL to PID and waits for it; fails unless it ended within a second with STATUS.
stop_within_a_second() {  # SIGNAL PID STATUS
  local t=$(date +%s%N); kill -s "$1" "$2"; wait "$2"; status=$?; t=$(( ($(date +%s%N) - t) / 1000000 ))
  [ "$t" -lt 1000 ] || fail "SIG$1 took $t ms to end it"; expect_status "$3"; }

case_all() {
  # The real sweep files the whole site, a line each in address order, on
  # either path: the link resolved by the sweep (given CAP_NET_RAW), leaving
  # the kernel's neighbour table as it was, or by the kernel.
  local entries; entries=$(ip -4 neigh show | wc -l)
  run 0 198.18.0.0/24 --all
  expect_in "$err" "Completed scanning. 7 ZN7QX unit(s) found. 256 addresses: 113 other hosts, 9 errors, 127 silent;"
  if [ "${ZN7QX_EXPECT_PATH:-}" = link ]; then
    expect_in "$err" "; 254 ARP requests."
    [ "$(ip -4 neigh show | wc -l)" = "$entries" ] || fail "the neighbour table changed: $(ip -4 neigh show)"
  else
    ! grep -q "ARP requests" "$err" || fail "the kernel's path counts no ARP of its own: $(cat "$err")"
  fi
  [ "$(wc -l <"$out")" = 129 ] && sort -c -t. -k4,4n <(cut -c19- "$out") || fail "not a line each in order: $(cat "$out")"
  for line in "-                 198.18.0.1 host" "02:5a:c6:12:00:0a 198.18.0.10: Unit-7 (hall A)" \
    '02:5a:c6:12:00:0e 198.18.0.14: \x1b[31mRed\x0d\x0a\x07\xff\\\x9b\x85\x7f' "02:5a:c6:12:00:14 198.18.0.20 host" \
    "-                 198.18.0.39 error: Source Quench" "02:5a:c6:12:00:30 198.18.0.48: Late-unit"; do
    grep -qxF -- "$line" "$out" || fail "missing: $line"
  done
}

case_formats() {
  # The formats themselves are the output's table; here, a real sweep's
  # figures and untrusted text through them.
  run 0 198.18.0.10-198.18.0.14 198.18.0.32 198.19.0.1 --json -q --all
  [ ! -s "$err" ] || fail "--quiet still wrote to standard error"
  no_raw_controls "$out"
  python3 -c 'import json,sys; d=json.load(sys.stdin); r=d["results"]; assert d["summary"]["units"] == 5, d
assert [x["text"] for x in r if x["kind"] == "unit"] == ["Unit-7 (hall A)", "Unit-7", "", "\x1b[31mRed\r\n\x07\xff\\\x9b\x85\x7f", "Unit-1"]
assert [x["mac"] for x in r] == ["02:5a:c6:12:00:%02x" % n for n in (10, 11, 12, 13, 14)] + [None, None]  # an error; behind the router
assert all(x["rtt_ms"] > 0 for x in r) and r[5]["error"] == "Destination Host Unreachable", r' <"$out" ||
    fail "JSON: $(cat "$out")"
  # No unit: nothing on standard output, and the status says so.
  run 1 198.18.0.30 198.18.0.41-198.18.0.46 198.18.0.50-198.18.0.60
  [ ! -s "$out" ] || fail "output for no units: $(cat "$out")"
  expect_in "$err" "Completed scanning. No ZN7QX units found. 18 addresses: 0 other hosts, 0 errors, 18 silent;"
}

case_bad_usage() {
  # Arguments, and words of the message on standard error; @NAME is a site's
  # file. Here only that the range parser's word reaches the user.
  printf 'ranges = 198.18.0.1\ninterval = 0\n' >"$out.bad-interval"
  printf 'ranges = 198.18.0.9-198.18.0.1\n' >"$out.bad-range"
  printf 'ranges = 198.19.0.0/15\n' >"$out.too-many"
  printf 'rate = 10\n' >"$out.no-ranges"
  while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    run 2 ${args//@/$out.}
    [ ! -s "$out" ] || fail "output for $args"
    expect_in "$err" "$message"
    grep -q '^zn7qx-scan: ' "$err" || fail "message for $args: $(cat "$err")"
  done <<'ROWS'
198.18.0.9-198.18.0.1|bad range "198.18.0.9-198.18.0.1": the end address lies before the start address
198.19.0.0/15|the ranges hold 131072 addresses, more than the limit of 65536
--rate nan 198.18.0.10|--rate must be between 1 and 100000, not "nan"
--rate 5 --rate 0 198.18.0.10|--rate must be between 1 and 100000, not "0"
--burst 1.5 198.18.0.10|--burst must be a whole number between 1 and 4096, not "1.5"
--max-addresses 99999999999999999999 198.18.0.10|--max-addresses must be a whole number between 1 and 16777216
--watch 0 198.18.0.10|--watch must be between 1 and 86400 seconds (a RANGE right after --watch is read as them), not "0"
--watch=1 --csv 198.18.0.10|--csv does not go with --watch
--watch=1 --all 198.18.0.10|--all does not go with --watch
--metrics /tmp/x.prom 198.18.0.10|--metrics goes with --watch
--watch --metrics /nonexistent/x.prom 198.18.0.10|--metrics: the folder "/nonexistent": No such file or directory
--config @bad-interval|:2: interval must be between 1 and 86400 seconds, not "0"
--config @bad-range|:1: bad range "198.18.0.9-198.18.0.1": the end address lies before the start address
--config @too-many|: the ranges hold 131072 addresses, more than the limit of 65536 (raise it with max-addresses)
--config @no-ranges|: no ranges (a line such as "ranges = 192.168.1.0/24")
--rate|--rate needs a value (see --help)
--bogus|--bogus
ROWS
  run 0 --help
  [ "$(head -n1 "$out")" = "Usage: zn7qx-scan [OPTION]... [RANGE]..." ] || fail "--help starts: $(head -n1 "$out")"
  [ "$(awk 'length > 80' "$out" | wc -l)" = 0 ] || fail "--help has lines over 80 columns"
}

case_signals() {
  # A slow sweep stopped early still writes what it found, as JSON and CSV
  # (plain text: the slow reader's case), and dies by the signal (128 + N).
  local signal before
  for signal in TERM:143:--json INT:130:--csv; do
    before=$(requests)
    "$scan" 198.18.0.10-198.18.0.199 --rate 20 --burst 1 "${signal##*:}" >"$out" 2>"$err" & pid=$!
    wait_for '[ $(( $(requests) - before )) -ge 3 ]'
    IFS=: read -r name number format <<<"$signal"
    stop_within_a_second "$name" "$pid" "$number"
    expect_in "$err" "Scan canceled. Found "
    case $format in
      --json) python3 -c 'import json,sys; d=json.load(sys.stdin); s=d["summary"]
assert s["interrupted"] and s["units"] >= 1 and d["results"][0]["text"] == "Unit-7 (hall A)"' <"$out" ||
          fail "JSON of an interrupted sweep: $(cat "$out")" ;;
      *) [ "$(sed -n 2p "$out" | cut -d, -f1-3)" = "198.18.0.10,unit,Unit-7 (hall A)" ] || fail "CSV: $(cat "$out")" ;;
    esac
  done
}

case_signal_at_any_moment() {
  # An hour between sweeps; a signal after so many requests of the first
  # sweep, or in the wait after it, ends the watch at once.
  local moment before
  for moment in 0 1 3 8 21 done; do
    before=$(requests)
    "$scan" 198.18.0.10-198.18.0.30 --watch 3600 --rate 100 --burst 1 --json >"$out" 2>"$err" & pid=$!
    if [ "$moment" = done ]; then wait_for 'grep -q Unit-7 "$out"'
    else wait_for '[ $(( $(requests) - before )) -ge $moment ]'; fi
    stop_within_a_second INT "$pid" 130
  done
  expect_in "$out" '"event":"present","address":"198.18.0.10"'
}

case_slow_reader() {
  # A signal while a slow reader holds the pipe: not one line of the
  # results is lost, and then the program dies by the signal.
  "$scan" 198.19.0.0/19 --all >"$out.all" 2>/dev/null
  [ "$(wc -c <"$out.all")" -gt 200000 ] || fail "too little output to fill the pipe"
  mkfifo "$out.pipe"
  "$scan" 198.19.0.0/19 --all >"$out.pipe" 2>"$err" & pid=$!
  # The signal comes once the writer waits on the full pipe.
  { IFS= read -r first; wait_for '[ "$(cut -d" " -f3 "/proc/$pid/stat")" = S ]'; kill -TERM "$pid"
    printf '%s\n' "$first"; cat; } <"$out.pipe" >"$out"
  wait "$pid"; status=$?
  expect_status 143
  diff -q "$out.all" "$out" >/dev/null || fail "lost lines: $(wc -l <"$out") of $(wc -l <"$out.all")"
}

case_watch_blocked() {
  # SIGTERM while the watch's output is blocked (a reader that stopped
  # reading): its lines are written in full once the reader goes on, and not
  # one request leaves after the signal.
  python3 - "$scan" <<'PY' || fail "a request after SIGTERM, or lines lost"
import fcntl, os, subprocess, sys, time
def requests():  # frames sent on the link, as requests() counts them
    link = os.environ["ZN7QX_PROBE_IF"] + ":"
    return next(int(line.split()[10]) for line in open("/proc/net/dev") if line.split()[0] == link)
start = requests()
r, w = os.pipe()
fcntl.fcntl(w, 1031, 4096)  # F_SETPIPE_SZ: one page, filled, so that the first line blocks
os.write(w, b"x" * 4096)
watch = subprocess.Popen([sys.argv[1], "198.18.0.10-198.18.0.20", "--watch", "1"], stdout=w)
os.close(w)
# Blocked once no sweep follows the first within twice the interval.
last, since = requests(), time.monotonic()
while last - start < 11 or time.monotonic() - since < 2:
    assert time.monotonic() - since < 10, "no sweep"
    time.sleep(0.05)
    if requests() != last: last, since = requests(), time.monotonic()
watch.terminate()
time.sleep(0.5)
out = b"".join(iter(lambda: os.read(r, 65536), b""))
assert watch.wait() == -15, watch.returncode
assert requests() == last, f"{requests() - last} requests after SIGTERM"
assert b"appeared" in out and b"present" in out, out
PY
}

case_write_error() {
  # Standard output on a full disk: said, with a status of its own, and a
  # watch ends by itself.
  local args
  for args in "198.18.0.10" "198.18.0.10 --watch 1" "--version"; do
    # shellcheck disable=SC2086
    timeout 10 "$scan" $args >/dev/full 2>"$err"; status=$?
    expect_status 4
    expect_in "$err" "zn7qx-scan: write error on standard output: No space left on device"
  done
}

case_terminal() {
  # The progress line's escape codes only where the terminal takes them.
  local term command
  for term in dumb xterm; do
    for command in "$scan 198.18.0.10-198.18.0.12" "$scan 198.18.0.10 --watch 1"; do
      TERM=$term script -qefc "exec $command" "$out" </dev/null >/dev/null & pid=$!
      if [[ $command == *--watch* ]]; then
        wait_for 'grep -q appeared "$out"'
        kill -INT "$(cat "/proc/$pid/task/$pid/children")"
      fi
      wait "$pid"
      if [ "$term" = dumb ]; then grep -q $'\033' "$out" && fail "escape codes for TERM=dumb"
      else grep -q $'\033' "$out" || fail "no progress or status line for TERM=xterm: $command"; fi
    done
    [ "$term" = dumb ] || expect_in "$out" "Sweep 1: 1 ZN7QX unit(s) present."
  done
}

case_watch() {
  # As the service runs it: a site's file, bare --watch, the journal on
  # standard output (a priority each: a unit gone silent is the only warning),
  # metrics that promtool takes, nothing half-written left beside them.
  # changes.json changes the site between the second sweep and the third.
  dir=$(mktemp -d) && trap 'umount "$dir/full" 2>/dev/null; rm -rf "$out" "$err" "$out".* "$dir"' EXIT
  printf '%s\n' "# changes.json's units" "ranges = 198.18.0.80-198.18.0.84" "ranges = 198.18.0.14  # hostile text" \
    "interval = 1" >"$dir/site.conf"
  # A damaged state file is said once, and the watch starts afresh.
  printf 'zn7qx-watch units 1\nnot a unit\n' >"$dir/units"
  JOURNAL_STREAM=$(stat -c %d:%i "$out") "$scan" --watch --json --config "$dir/site.conf" --metrics "$dir/units.prom" \
    --state "$dir/units" >"$out" 2>"$err" & pid=$!
  wait_for 'grep -q "\"silent\"" "$out"'
  "$ZN7QX_PROMTOOL" check metrics <"$dir/units.prom" || fail "promtool: $(cat "$dir/units.prom")"
  expect_in "$dir/units.prom" 'zn7qx_unit_up{site="site",unit="02:5a:c6:12:00:51"} 0'
  expect_in "$dir/units.prom" 'zn7qx_unit_info{site="site",unit="02:5a:c6:12:00:51",address="198.18.0.81",mac="02:5a:c6:12:00:51",text="Leaver"} 1'
  expect_in "$dir/units.prom" 'text="\\x1b[31mRed\\x0d\\x0a\\x07\\xff\\\\\\x9b\\x85\\x7f"} 1'
  [ "$(ls -A "$dir")" = "$(printf 'site.conf\nunits\nunits.prom')" ] || fail "left in the folder: $(ls -A "$dir")"
  [ "$(grep -c "units\":2 is damaged: the watch starts afresh" "$err")" = 1 ] || fail "the damaged state: $(cat "$err")"
  grep -q " 198.18.0.82 02:5a:c6:12:00:52 " "$dir/units" || fail "the units are not kept: $(cat "$dir/units")"
  stop_within_a_second TERM "$pid" 143
  no_raw_controls "$out"
  python3 -c 'import json,sys,datetime
for line in sys.stdin:
    d = json.loads(line[3:])
    assert line[:3] == "<%d>" % {"silent": 4, "moved": 5, "changed": 5}.get(d["event"], 6), line
    assert datetime.datetime.fromisoformat(d["time"]).utcoffset() is not None, d
    if d["address"] == "198.18.0.14":
        assert d["text"] == "\x1b[31mRed\r\n\x07\xff\\\x9b\x85\x7f", d; continue
    s = "" if d["event"] == "present" else str(d["sweep"]) + " "
    print(s + d["event"], d.get("from", "") + ">" + d["address"], d["text"], d["mac"], d.get("old_text", ""))' <"$out" |
    diff -u - <(printf '%s\n' "1 appeared >198.18.0.81 Leaver 02:5a:c6:12:00:51 " \
      "1 appeared >198.18.0.82 Old text 02:5a:c6:12:00:52 " "1 appeared >198.18.0.83 Mover 02:00:5e:10:00:01 " \
      "3 appeared >198.18.0.80 Newcomer 02:5a:c6:12:00:50 " "3 changed >198.18.0.82 New text 02:5a:c6:12:00:52 Old text" \
      "3 moved 198.18.0.83>198.18.0.84 Mover 02:00:5e:10:00:01 " "4 silent >198.18.0.81 Leaver 02:5a:c6:12:00:51 " \
      "present >198.18.0.80 Newcomer 02:5a:c6:12:00:50 " "present >198.18.0.82 New text 02:5a:c6:12:00:52 " \
      "present >198.18.0.84 Mover 02:00:5e:10:00:01 ") >&2 || fail "the watch's changes differ"
  expect_in "$err" "Watch ended after 4 sweep(s): 4 ZN7QX unit(s) present."
  # A folder without room: the watch ends, says why, and leaves nothing.
  mkdir "$dir/full" && mount -t tmpfs -o size=4k tmpfs "$dir/full" && head -c 8192 /dev/zero >"$dir/full/fill" 2>/dev/null
  timeout 10 "$scan" --watch --config "$dir/site.conf" --metrics "$dir/full/units.prom" >/dev/null 2>"$err"; status=$?
  expect_status 4
  expect_in "$err" "cannot write $dir/full/units.prom: No space left on device"
  [ "$(ls -A "$dir/full")" = fill ] || fail "left in the full folder: $(ls -A "$dir/full")"
}

case_no_neighbour_table() {
  # No descriptor left for the neighbour table: said once, no hardware
  # addresses. Not under the sanitizers, whose runtime needs descriptors.
  grep -qa __asan_init "$scan" && { echo "SKIP: under the sanitizers" >&2; exit 77; }
  (for fd in /proc/self/fd/*; do fd=${fd##*/}; [ "$fd" -le 2 ] || eval "exec $fd>&-"; done
   ulimit -n 4; exec "$scan" 198.18.0.10 --watch 1 --json) >"$out" 2>"$err" & pid=$!
  wait_for 'grep -q appeared "$out"'
  stop_within_a_second INT "$pid" 130
  [ "$(grep -c "cannot read the kernel's neighbour table" "$err")" = 1 ] || fail "neighbour table: $(cat "$err")"
  expect_in "$out" '"event":"appeared","address":"198.18.0.10","text":"Unit-7 (hall A)","mac":null}'
}

case_no_echo() {
  run 3 198.18.0.10
  for words in "not permitted" ping_group_range cap_net_raw; do expect_in "$err" "$words"; done
}

declare -F "case_${case_name//-/_}" >/dev/null || fail "unknown case"
"case_${case_name//-/_}"
echo "sweep[$case_name]: ok"
