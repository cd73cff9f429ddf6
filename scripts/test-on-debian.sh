#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# test-on-debian.sh RELEASE   (as root; RELEASE a codename: bookworm, trixie)
# Tries the committed tree (HEAD) as a new user would on a fresh Debian of
# that release: builds a bare root with debootstrap from the mirror that apt
# uses here, then runs the README's test command (scripts/test.sh) and
# scripts/build-deb.sh in it, as root, and removes the root again.
# Everything runs in mount and PID namespaces of its own, so that no mount
# and no process outlives the script, however it ends.
#   ZN7QX_DEBIAN_MIRROR  the mirror (default: apt's Debian mirror here)
#   ZN7QX_DEBIAN_CACHE   a folder that keeps the downloaded packages between
#                        runs (default: one for this run, removed with it)
set -euo pipefail
me=test-on-debian.sh
die() { echo "$me: $*" >&2; exit 1; }

# Inside the namespaces: the root, its mounts and the two commands.
if [ -n "${ZN7QX_DEBIAN_INSIDE:-}" ]; then
  release=$1 mirror=$2 work=$3 cache=$4 top=$5
  root=$work/root
  mounted=()
  undo() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"; done
  }
  trap undo EXIT
  mnt() { mount "$@"; mounted+=("${!#}"); }  # the mount point comes last

  echo "$me: debootstrap $release from $mirror" >&2
  mkdir -p "$root"
  # git: the new user's clone; build-deb.sh packages what it has committed.
  if ! debootstrap --variant=minbase --include=git --cache-dir="$cache" "$release" "$root" "$mirror" \
      >"$work/debootstrap.log" 2>&1; then
    tail -n 5 "$work/debootstrap.log" >&2
    die "debootstrap could not build a $release root from $mirror (is the release's name right, and the mirror reachable?)"
  fi
  # The root is a mount point of its own (unshare inside needs one), and
  # every apt step in it keeps its downloads in the cache.
  mnt --bind "$root" "$root"
  mkdir -p "$cache/partial"
  mnt --bind "$cache" "$root/var/cache/apt/archives"
  mnt -t proc proc "$root/proc"
  mnt -t sysfs sysfs "$root/sys"
  mnt --bind /dev "$root/dev"
  mnt -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  mnt -t tmpfs tmpfs "$root/dev/shm"
  mnt -t tmpfs tmpfs "$root/run"

  # The new user's clone of HEAD.
  git init -q "$root/root/zn7qx"
  git -C "$top" push -q "$root/root/zn7qx" "HEAD:refs/heads/under-test"
  git -C "$root/root/zn7qx" checkout -q under-test
  status=0
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 bash -c 'cd /root/zn7qx &&
      echo "== ./scripts/test.sh on $(. /etc/os-release && echo "$PRETTY_NAME")" >&2 && ./scripts/test.sh &&
      echo "== ./scripts/build-deb.sh" >&2 && ./scripts/build-deb.sh' || status=$?
  exit "$status"
fi

usage() { echo "usage: $me RELEASE   (a Debian codename, e.g. trixie; as root)" >&2; exit 2; }
[ $# -eq 1 ] || usage
release=$1
[[ $release =~ ^[a-z]+$ ]] || usage
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, mounts): sudo $0 $release"
cd "$(dirname "$0")/.."
top=$(pwd -P)
git rev-parse --verify -q HEAD >/dev/null || die "not a git checkout with a commit: it tests HEAD"
[ -z "$(git status --porcelain)" ] ||
  echo "$me: the work tree differs from HEAD; testing HEAD ($(git rev-parse --short HEAD)) as committed" >&2

if ! command -v debootstrap >/dev/null; then
  echo "Installing debootstrap" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
# The Debian mirror apt uses here (not its security archive).
mirror=${ZN7QX_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' 'Label: Debian' |
  sort -u | head -n 1)}
[ -n "$mirror" ] || die "apt uses no Debian mirror here to take; set ZN7QX_DEBIAN_MIRROR"

work=$(mktemp -d "${TMPDIR:-/var/tmp}/zn7qx-$release.XXXXXX")
cache=${ZN7QX_DEBIAN_CACHE:-$work/cache}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd -P)
inner=
cleanup() {
  # To the end whatever happens: even a reader of the output gone (SIGPIPE).
  set +e
  trap '' INT TERM HUP PIPE
  # Interrupted: unshare ignores SIGTERM while it waits, and takes the
  # namespaces' first process with it when it dies (--kill-child).
  if [ -n "$inner" ] && kill -0 "$inner" 2>/dev/null; then
    echo "$me: $release: interrupted; removing the root" >&2
    kill -KILL "$inner" 2>/dev/null || true
    wait "$inner" 2>/dev/null || true
  fi
  # The namespaces end with their last process; their mounts with them.
  for _ in $(seq 100); do
    grep -qsF " $work/" /proc/[0-9]*/mountinfo || break
    sleep 0.1
  done
  if grep -qsF " $work/" /proc/[0-9]*/mountinfo; then
    echo "$me: something is still mounted under $work; left in place" >&2
    return
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# In the background, so that a signal reaches the trap at once; job control
# keeps the default reaction to Ctrl-C in the commands under test.
set -m
ZN7QX_DEBIAN_INSIDE=1 unshare --mount --propagation private --pid --fork --kill-child -- \
  "$top/scripts/$me" "$release" "$mirror" "$work" "$cache" "$top" &
inner=$!
status=0
wait "$inner" || status=$?
inner=
set +m
if [ "$status" -eq 0 ]; then
  echo "$me: $release: the test command and the package build passed" >&2
else
  echo "$me: $release: failed (exit $status)" >&2
fi
exit "$status"
