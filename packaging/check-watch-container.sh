#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The watch as a user meets it: a Debian RELEASE root made with debootstrap,
# booted with systemd as PID 1 (systemd-nspawn -b) inside the simulator
# harness's probe namespace, so that nothing it sends leaves namespaces of
# this check. The package DEB is installed there beside
# prometheus-node-exporter and prometheus, a site is set up as README.watch
# says, and what a user would look at is checked: the instance, its user and
# capabilities, the journal, node_exporter's metrics, the alert in
# Prometheus, a restart, a second site, a bad site file, stop, an upgrade and
# apt remove.
#   check-watch-container.sh RELEASE DEB ZN7QX_SIM   (as root)
#   ZN7QX_NSPAWN_CACHE  downloads and base roots kept between runs
#                       (default /var/cache/zn7qx-nspawn)
# Exit 0: every check passed; 77 with "SKIPPED" when the container cannot be
# made here; anything else failed.
set -euo pipefail
me=check-watch-container
say() { echo "$me: $*" >&2; }
fail() { say "FAIL: $*"; exit 1; }
skip() { say "SKIPPED: $*"; exit 77; }
top=$(cd "$(dirname "$0")/.." && pwd -P)
self=$top/packaging/$me.sh
site=hall-a unit=zn7qx-watch@hall-a

# ---------------------------------------------------------------------------
# Inside the harness's probe namespace: boot, install, check.
if [ "${1:-}" = --inside ]; then
  root=$2 deb=$3
  leader="" nspawn=""
  stop_container() {
    set +e
    [ -n "$leader" ] && nsenter -t "$leader" -a systemctl poweroff >/dev/null 2>&1
    for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$nspawn" 2>/dev/null
    wait "$nspawn" 2>/dev/null
  }
  trap stop_container EXIT
  # The harness checked the probe side; the container shares it.
  systemd-nspawn -q -D "$root" -b --register=no --keep-unit --console=pipe \
    --bind-ro="$(dirname "$deb")":/mnt/deb </dev/null >"$root.console" 2>&1 &
  nspawn=$!
  for _ in $(seq 150); do
    leader=$(pgrep -P "$nspawn" | head -n 1 || true)
    [ -n "$leader" ] && [ "$(cat "/proc/$leader/comm" 2>/dev/null)" = systemd ] && break
    leader=""; sleep 0.2
  done
  [ -n "$leader" ] || { tail -n 20 "$root.console" >&2; fail "systemd did not start in the container"; }
  ct() { nsenter -t "$leader" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
  # Its bus comes a moment after PID 1 itself: until then systemctl cannot ask.
  state=""
  for _ in $(seq 100); do
    state=$(ct timeout 120 systemctl is-system-running --wait 2>/dev/null || true)
    [ -n "$state" ] && break
    sleep 0.2
  done
  say "systemd $(ct systemctl --version | head -n 1 | cut -d' ' -f2) is PID 1 ($state)"
  [ "$state" = running ] || { ct systemctl --failed --no-pager >&2 || true; fail "the system is $state"; }
  # HTTP without curl: what node_exporter and Prometheus serve.
  get() { ct bash -c 'exec 3<>/dev/tcp/127.0.0.1/$0 && printf "GET %s HTTP/1.0\r\n\r\n" "$1" >&3 && cat <&3' "$1" "$2"; }
  prop() { ct systemctl show -P "$2" "$1"; }
  journal() { ct journalctl -q --no-pager -o cat "$@"; }
  # Polls a check for up to $2 seconds (default 60).
  until_ok() { local i; for ((i = 0; i < ${2:-60} * 5; i++)); do eval "$1" && return 0; sleep 0.2; done; return 1; }

  say "installing $(basename "$deb") with apt, as a user would"
  ct apt-get install -y -qq --no-install-recommends "/mnt/deb/$(basename "$deb")" >/dev/null 2>&1 ||
    { ct apt-get install -y --no-install-recommends "/mnt/deb/$(basename "$deb")" >&2; fail "apt-get install"; }
  # Prometheus reads the package's rules, scraping every 2 s.
  ct sh -c 'cp /usr/share/doc/zn7qx-finder/examples/zn7qx-alerts.yml /etc/prometheus/ &&
    printf "%s\n" "global: {scrape_interval: 2s, evaluation_interval: 2s}" "rule_files: [zn7qx-alerts.yml]" \
      "scrape_configs:" "  - job_name: node" "    static_configs: [{targets: [\"127.0.0.1:9100\"]}]" \
      >/etc/prometheus/prometheus.yml && systemctl restart prometheus'

  # The site as README.watch sets it up (the editor's step written out).
  ct sh -c "install -d /etc/zn7qx/watch &&
    install -m 644 /usr/share/doc/zn7qx-finder/examples/site.conf /etc/zn7qx/watch/$site.conf &&
    sed -i 's|^ranges = .*|ranges = 198.18.0.80/30, 198.18.0.84-198.18.0.87|; s|^interval = .*|interval = 1|' /etc/zn7qx/watch/$site.conf"
  ct systemctl enable --now "$unit" 2>/dev/null
  until_ok '[ "$(prop $unit ActiveState)" = active ] && [ -n "$(journal -u $unit -g "appeared.*Stayer")" ]' 30 ||
    { journal -u "$unit" | tail -n 20 >&2; fail "$unit did not start and find the units: $(prop $unit ActiveState)"; }
  say "ok: $unit active"

  main=$(prop "$unit" MainPID)
  uid=$(ct awk '/^Uid:/ { print $2 }' "/proc/$main/status")
  { [ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ]; } || fail "not a dynamic user: uid $uid"
  say "ok: a dynamic user (uid $uid)"
  caps() { ct awk '/^Cap(Prm|Eff|Amb):/ { printf "%s%s ", $1, $2 }' "/proc/$(prop "$unit" MainPID)/status"; }
  [ "$(caps)" = "CapPrm:0000000000000000 CapEff:0000000000000000 CapAmb:0000000000000000 " ] ||
    fail "with ping sockets open it keeps capabilities: $(caps)"
  say "ok: no capability left with ping sockets open"

  # The site changes 20 s after the first request; the watch is stopped
  # across the change and started again, as after a reboot.
  sleep 6
  ct systemctl stop "$unit"
  echo "1 0" >/proc/sys/net/ipv4/ping_group_range  # closed: the raw socket, with CAP_NET_RAW
  sleep 18
  ct systemctl start "$unit"
  until_ok '[ "$(prop $unit ActiveState)" = active ]' 10 || fail "$unit did not start again"
  [ "$(caps)" = "CapPrm:0000000000002000 CapEff:0000000000002000 CapAmb:0000000000000000 " ] ||
    fail "with ping sockets closed it should keep CAP_NET_RAW alone: $(caps)"
  say "ok: CAP_NET_RAW alone with ping sockets closed"
  until_ok '[ -n "$(journal -u $unit -g "silent.*Leaver")" ]' 20 ||
    { journal -u "$unit" >&2; fail "the unit gone silent during the restart was never reported"; }
  sleep 3
  [ "$(prop "$unit" NRestarts)" = 0 ] && [ "$(prop "$unit" ActiveState)" = active ] ||
    fail "restarting: NRestarts=$(prop "$unit" NRestarts)"
  say "ok: active, never restarted, the unit gone during the restart reported silent"

  # journald reads each line's priority: -p warning is the silent units. (The
  # priority of each kind of change is tests/netns/sweep.sh's.)
  warnings=$(journal -p warning -u 'zn7qx-watch@*')
  [ "$(grep -c . <<<"$warnings")" = 1 ] && grep -q "silent.*Leaver" <<<"$warnings" ||
    { journal -u "$unit" -o verbose | grep -E "PRIORITY|MESSAGE=" >&2; fail "journalctl -p warning: $warnings"; }
  say "ok: journalctl -p warning shows the silent unit alone"

  # Through node_exporter's textfile folder: the alert fires only on its metrics.
  firing() { get 9090 /api/v1/alerts | tr '{' '\n' | grep -c '"alertname":"ZN7QXUnitSilent"' || true; }
  until_ok '[ "$(firing)" -ge 1 ]' 30 || fail "the alert never fired: $(get 9090 /api/v1/alerts | tail -n 1)"
  sleep 5
  alerts=$(get 9090 /api/v1/alerts | tail -n 1)
  [ "$(firing)" = 1 ] || fail "the alert fires for more than the silent unit: $alerts"
  grep -q 'Leaver' <<<"$alerts" || fail "the alert is not for the silent unit: $alerts"
  say "ok: the alert fires for the silent unit alone, not for one that moved, changed or stayed"

  # A second site beside it: node_exporter serves both sites' series, none lost as a duplicate.
  ct sh -c "sed 's|^ranges = .*|ranges = 198.18.0.80|' /etc/zn7qx/watch/$site.conf >/etc/zn7qx/watch/hall-b.conf"
  ct systemctl start zn7qx-watch@hall-b
  served() { get 9100 /metrics | grep -E '^(node_textfile_scrape_error|zn7qx_units_present)' | tr '\n' ' '; }
  until_ok 'served | grep -Eqx "node_textfile_scrape_error 0 (zn7qx_units_present.site=.hall-(a|b).. [0-9]+ ){2}"' 20 ||
    fail "node_exporter with two sites: $(served)"
  ct systemctl stop zn7qx-watch@hall-b
  say "ok: node_exporter serves both sites' metrics, node_textfile_scrape_error 0"

  # A bad site file: one line at err, stopped, no restart loop.
  ct sh -c 'printf "ranges = 198.18.0.80\nrnages = 1\n" >/etc/zn7qx/watch/bad.conf'
  ct systemctl start zn7qx-watch@bad || true
  until_ok '[ "$(prop zn7qx-watch@bad ActiveState)" = failed ]' 10 || fail "a bad site file did not stop the instance"
  sleep 2
  [ "$(prop zn7qx-watch@bad NRestarts)" = 0 ] || fail "a bad site file restarts: $(prop zn7qx-watch@bad NRestarts)"
  [ -n "$(journal -u zn7qx-watch@bad -p err -g 'bad.conf:2: unknown setting')" ] ||
    { journal -u zn7qx-watch@bad -o verbose | grep -E "PRIORITY|MESSAGE=" >&2; fail "the bad file's line is not at err"; }
  say "ok: a bad site file stops the instance at once, its line at err"

  link=/var/lib/prometheus/node-exporter/zn7qx-watch-$site.prom
  left_nothing() { ct test ! -e "$link" -a ! -L "$link" && [ -z "$(ct pgrep -x zn7qx-scan)" ] || fail "$1 left $link or zn7qx-scan"; }
  ct test -L "$link" || fail "no link in node_exporter's folder while it runs"
  ct systemctl stop "$unit"
  left_nothing "systemctl stop"
  say "ok: systemctl stop leaves no process and no link"
  ct systemctl start "$unit"
  until_ok 'ct test -L "$link"' 10 || fail "no link after a start"
  # An upgrade (the same package again) restarts the watch with the new program.
  before=$(prop "$unit" MainPID)
  ct apt-get install -y -qq --reinstall "/mnt/deb/$(basename "$deb")" >/dev/null 2>&1 || fail "apt-get install --reinstall"
  until_ok '[ "$(prop $unit ActiveState)" = active ] && [ "$(prop $unit MainPID)" != "$before" ]' 10 ||
    fail "an upgrade left the old program running: MainPID $(prop "$unit" MainPID)"
  say "ok: an upgrade restarts the running watch"
  ct apt-get remove -y -qq zn7qx-finder >/dev/null 2>&1 || fail "apt-get remove"
  left_nothing "apt remove"
  say "ok: apt remove leaves no process and no link"
  ct apt-get purge -y -qq zn7qx-finder >/dev/null 2>&1 || fail "apt-get purge"
  ct test ! -e /var/lib/private/zn7qx-watch -a ! -e /var/lib/zn7qx-watch || fail "purge left the watch's state"
  say "ok: purge removes the watch's state"
  exit 0
fi

# ---------------------------------------------------------------------------
[ $# = 3 ] || { echo "usage: $me.sh RELEASE DEB ZN7QX_SIM" >&2; exit 2; }
release=$1 deb=$(readlink -f "$2") sim=$(readlink -f "$3")
[ "$(id -u)" = 0 ] || skip "needs root (debootstrap, systemd-nspawn)"
[ -f "$deb" ] || fail "no package at $2"
[ -x "$sim" ] || fail "no simulator at $3"
for tool in debootstrap systemd-nspawn; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
cache=${ZN7QX_NSPAWN_CACHE:-/var/cache/zn7qx-nspawn}/$release
mkdir -p "$cache/archives/partial"
work=$(mktemp -d "${TMPDIR:-/var/tmp}/$me-$release.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root
mirror=${ZN7QX_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' 'Label: Debian' |
  sort -u | head -n 1)}
[ -n "$mirror" ] || skip "apt uses no Debian mirror here; set ZN7QX_DEBIAN_MIRROR"

# The base root is kept for a week: debootstrap takes minutes, unpacking it seconds.
base=$cache/base.tar
if [ -z "$(find "$base" -mtime -7 2>/dev/null)" ]; then
  say "debootstrap $release from $mirror"
  debootstrap --variant=minbase --cache-dir="$cache/archives" \
    --include=systemd,systemd-sysv,dbus,procps,apt,prometheus-node-exporter,prometheus \
    "$release" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 5 "$work/debootstrap.log" >&2; fail "debootstrap $release"; }
  echo zn7qx-watch-check >"$root/etc/hostname"
  tar -C "$root" -cf "$base.new" . && mv "$base.new" "$base"
else
  mkdir "$root" && tar -C "$root" -xf "$base"
fi
# The package's dependencies come from the mirror now, as the container has
# no way out: apt installs the package and takes it away again, keeping them.
nspawn_run() { systemd-nspawn -q -D "$root" --register=no --keep-unit --bind="$cache/archives":/var/cache/apt/archives "$@"; }
cp "$deb" "$work/"
nspawn_run --bind-ro="$work/$(basename "$deb")":/tmp/zn7qx.deb -- sh -c 'apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/zn7qx.deb >/dev/null &&
  dpkg --purge zn7qx-finder >/dev/null && apt-get clean' >"$work/deps.log" 2>&1 ||
  { tail -n 20 "$work/deps.log" >&2; fail "the package's dependencies do not install on $release"; }

# The site: units that stay, appear, go silent, change their text and move
# 20 s after the first request.
cat >"$work/site.json" <<'EOF'
{"replies": [
  {"address": "198.18.0.80", "as": "unit", "text": "Stayer"},
  {"address": "198.18.0.81", "as": "unit", "text": "Leaver", "until_ms": 20000},
  {"address": "198.18.0.82", "as": "unit", "text": "Old text", "until_ms": 20000},
  {"address": "198.18.0.82", "as": "unit", "text": "New text", "after_ms": 20000},
  {"address": "198.18.0.83", "as": "unit", "text": "Mover", "mac": "02:00:5e:10:00:01", "until_ms": 20000},
  {"address": "198.18.0.86", "as": "unit", "text": "Mover", "mac": "02:00:5e:10:00:01", "after_ms": 20000},
  {"address": "198.18.0.85", "as": "unit", "text": "Newcomer", "after_ms": 20000}
]}
EOF
say "booting $release with systemd-nspawn -b in the harness's probe namespace"
"$top/tools/zn7qx-sim/with-sim-network.sh" --sim "$sim" --config "$work/site.json" --max-seconds 400 \
  --sim-log "$work/sim.log" -- bash "$self" --inside "$root" "$work/$(basename "$deb")"
say "$release: passed"
