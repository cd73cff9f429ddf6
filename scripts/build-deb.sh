#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package the Debian way and checks it with lintian, on a
# fresh Debian 12 or 13 in one command: installs the packaging tools and the
# build dependencies with apt-get (root or sudo) when they are missing,
# builds the committed tree (git archive of HEAD) with dpkg-buildpackage in
# a folder of its own, so that nothing is written beside the checkout, then
# runs this release's lintian at the pedantic level and fails on any error
# or warning. packaging/check-deb.sh checks the package's contents and
# dependencies in between. The package is for the release it is built on.
#   scripts/build-deb.sh            -> build-deb/zn7qx-finder_VERSION_ARCH.deb
#   scripts/build-deb.sh --install  the same, then installs it with apt-get
# ZN7QX_DEB_DIR (default build-deb) is where it all goes: a new folder inside
# the checkout, or one this script made before; DEB_BUILD_OPTIONS is passed
# on (default parallel=2).
set -euo pipefail
install=0
case ${1:-} in
  '') ;;
  --install) install=1 ;;
  *) echo "usage: build-deb.sh [--install]" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
top=$(pwd -P)
# The folder is emptied first: only one that this script made (it holds the
# marker) or a new one, inside the checkout and holding nothing git tracks.
marker=.zn7qx-build-deb
refuse() { echo "build-deb.sh: ZN7QX_DEB_DIR=$dir_arg: $*; nothing removed (give a new folder inside the checkout)" >&2; exit 2; }
dir_arg=${ZN7QX_DEB_DIR:-build-deb}
case $dir_arg in '' | /*) refuse "not a folder inside the checkout" ;; esac
out=$(realpath -m -- "$top/$dir_arg")
case $out in "$top"/?*) ;; *) refuse "not a folder inside the checkout" ;; esac
if [ -e "$out" ] || [ -L "$out" ]; then
  [ -d "$out" ] && [ ! -L "$out" ] || refuse "not a folder"
  [ -f "$out/$marker" ] || refuse "an existing folder that build-deb.sh did not make"
fi
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1 &&
   [ -n "$(git -C "$top" ls-files -- "$out" | head -n 1)" ]; then
  refuse "holds files that git tracks"
fi

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
# The variable after sudo, which would drop it from the environment.
apt_get=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
apt_install() {
  "${apt_get[@]}" install -y -qq --no-install-recommends "$@"
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
  "${apt_get[@]}" build-dep -y -qq --no-install-recommends ./
fi

version=$(dpkg-parsechangelog -S Version)
src=$out/zn7qx-finder-$version
rm -rf "$out"
mkdir -p "$src"
: >"$out/$marker"
# The committed tree: nothing uncommitted or untracked goes into the package.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  [ -z "$(git status --porcelain)" ] ||
    echo "build-deb.sh: the work tree differs from HEAD; packaging HEAD ($(git rev-parse --short HEAD)) as committed" >&2
  git archive --format=tar HEAD | tar -xf - -C "$src"
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
deb=$(ls "$out"/zn7qx-finder_"$version"_*.deb)
# The check finds the files that the dependencies are for on this machine:
# what Depends names is installed first (a few plugins and a font).
if ! dpkg-checkbuilddeps -d "$(dpkg-deb -f "$deb" Depends)" /dev/null >/dev/null 2>&1; then
  echo "Installing the package's dependencies" >&2
  apt_update
  "${apt_get[@]}" satisfy -y -qq --no-install-recommends "$(dpkg-deb -f "$deb" Depends)"
fi
packaging/check-deb.sh "$deb"

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
  "${apt_get[@]}" install -y -qq "$deb"
  echo "Installed zn7qx-finder $version" >&2
fi
