#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every zn7qx-scan command line and site file of the documentation, read from
# the documents so that a new one runs too, for real on the probe side of
# examples.json (a unit in each range they sweep). Each must exit as the help
# says: 0 (units found), a watch 130 when Ctrl-C stops it after a sweep.
#   examples.sh SOURCE_DIR ZN7QX_SCAN ZN7QX_SIM
set -uo pipefail
set -m  # a watch started in the background still takes SIGINT
source=$1 scan=$2 sim=$3
fail() { echo "examples: FAIL: $*" >&2; failed=1; }
"$sim" --check-isolation --probe-link "${ZN7QX_PROBE_IF:-none}" --ranges "${ZN7QX_TEST_RANGES:-}" >/dev/null ||
  { echo "examples: not in an isolated test network: nothing sent" >&2; exit 1; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" && ln -s "$scan" "$work/bin/zn7qx-scan" && cd "$work" || exit 1
export PATH="$work/bin:$PATH" TERM=dumb
failed=0 count=0

# Command lines: the help's Examples, and in the READMEs and the manual
# page's source every indented line that starts with zn7qx-scan (a comment
# after "#" cut) or runs it through the simulator's harness.
commands() {
  "$scan" --help | awk '/^Examples:/ { on = 1; next } on && /^  zn7qx-scan/ { sub(/^ +/, ""); sub(/  .*/, ""); print }'
  for doc in README.md app/zn7qx-scan/README.md app/zn7qx-scan/zn7qx-scan.h2m packaging/watch/README.watch; do
    sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' "$source/$doc" |
      sed -nE -e 's/^ +(zn7qx-scan( .*)?)$/\1/p' -e 's|^ .*with-sim-network\.sh .* -- build/app/zn7qx-scan/(zn7qx-scan .*)|\1|p' |
      sed -E 's/ +#.*//'
  done
}
while IFS= read -r line; do
  count=$((count + 1))
  if [[ $line == *--watch* ]]; then
    bash -c "exec $line" >out 2>err & pid=$!
    for _ in $(seq 200); do grep -q appeared out && break; sleep 0.05; done
    kill -INT "$pid"; wait "$pid"; status=$? want=130
  else
    bash -c "$line" >out 2>err; status=$? want=0
  fi
  [ "$status" = "$want" ] || fail "$line: exit status $status, wanted $want: $(cat err)"
  echo "ok ($status): $line"
done < <(commands | sort -u)
[ "$count" -ge 10 ] || fail "only $count command lines found in the documents"

# Site files: the help's (the indented lines under "Site files:") and the
# package's example, each swept once.
"$scan" --help | awk '/^Site files:/ { on = 1; next } on && /^[^ ]/ { on = 0 } on && /^    / { sub(/^ +/, ""); print }' >help.conf
cp "$source/packaging/watch/site.conf" package.conf
for file in help.conf package.conf; do
  [ -s "$file" ] || { fail "no site file in $file's source"; continue; }
  "$scan" --config "$file" >out 2>err; status=$?
  [ "$status" = 0 ] || fail "the site file $file: exit status $status: $(cat err)"
  echo "ok ($status): --config $file"
done
# The error README.watch shows for a misspelt setting, as the program says it.
while read -r number name; do
  { for _ in $(seq $((number - 1))); do echo "# a comment"; done; echo "$name = 1"; } >misspelt.conf
  "$scan" --config misspelt.conf >out 2>err; status=$?
  grep -q "^zn7qx-scan: misspelt.conf:$number: unknown setting \"$name\" (known: " err && [ "$status" = 2 ] ||
    fail "README.watch's error: exit status $status: $(cat err)"
  echo "ok ($status): README.watch's error"
done < <(sed -nE 's/^ +zn7qx-scan: [^:]+:([0-9]+): unknown setting "([a-z-]+)".*/\1 \2/p' "$source/packaging/watch/README.watch")
exit "$failed"
