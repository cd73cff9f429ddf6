#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package the Debian way and checks it with lintian, from
# a fresh clone of Debian 12 in one command: installs the packaging tools and
# the build dependencies with apt-get (root or sudo) when they are missing,
# builds a copy of the tree with dpkg-buildpackage (so that nothing is
# written beside the checkout), then runs lintian at the pedantic level and
# fails on any error or warning. packaging/check-deb.sh checks the package's
# contents in between.
#   scripts/build-deb.sh            -> build-deb/zn7qx-finder_VERSION_ARCH.deb
#   scripts/build-deb.sh --install  the same, then installs it with apt-get
# ZN7QX_DEB_DIR (default build-deb) is where it all goes; DEB_BUILD_OPTIONS
# is passed on (default parallel=2).
set -euo pipefail
install=0
case ${1:-} in
  '') ;;
  --install) install=1 ;;
  *) echo "usage: build-deb.sh [--install]" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
top=$PWD
out=$top/${ZN7QX_DEB_DIR:-build-deb}
# It is emptied first: only a folder of its own inside the checkout.
case ${ZN7QX_DEB_DIR:-build-deb} in
  '' | . | .. | /* | *..*) echo "build-deb.sh: ZN7QX_DEB_DIR must name a folder inside the checkout" >&2; exit 2 ;;
esac

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
apt_install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"
}
updated=0
apt_update() {
  [ "$updated" = 1 ] || "${sudo_cmd[@]}" apt-get update -qq
  updated=1
}

tools=(dpkg-dev debhelper lintian)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  apt_update
  apt_install "${missing[@]}"
fi
if ! dpkg-checkbuilddeps >/dev/null 2>&1; then
  echo "Installing the build dependencies of debian/control" >&2
  apt_update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get build-dep -y -qq --no-install-recommends ./
fi

version=$(dpkg-parsechangelog -S Version)
src=$out/zn7qx-finder-$version
rm -rf "$out"
mkdir -p "$src"
# The tree as it stands, without build directories or ignored files.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude='./obj-*' --exclude='./.git' -cf - . | tar -xf - -C "$src"
fi

echo "Building the package in $src" >&2
(cd "$src" && DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=2} \
  dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1) || {
  tail -n 60 "$out/build.log" >&2
  echo "build-deb.sh: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
}

changes=$(ls "$out"/zn7qx-finder_"$version"_*.changes)
echo "Built:" >&2
(cd "$out" && sha256sum ./*.deb) >&2
packaging/check-deb.sh "$(ls "$out"/zn7qx-finder_"$version"_*.deb)"

# Errors and warnings fail; informational, pedantic and experimental tags
# are shown, so that they stay in sight.
status=0
lintian --pedantic --display-info --display-experimental --tag-display-limit 0 \
  --fail-on error,warning "$changes" >"$out/lintian.txt" 2>&1 || status=$?
cat "$out/lintian.txt"
if [ "$status" -ne 0 ]; then
  echo "build-deb.sh: lintian found errors or warnings (exit $status)" >&2
  exit 1
fi
echo "lintian: no error and no warning on $(basename "$changes")" >&2

if [ "$install" = 1 ]; then
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    "$(ls "$out"/zn7qx-finder_"$version"_*.deb)"
  echo "Installed zn7qx-finder $version" >&2
fi
