#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check-install-tree.sh [--install CMAKE BUILD_DIR] ROOT EXPECTED...
# Checks an installed tree under ROOT/usr: every EXPECTED path (relative to
# usr/) is there, bin/ holds nothing else, no file is setuid or setgid, the
# desktop entry starts an installed program with an installed icon, and the
# AppStream metadata names that entry and validates.
# With --install, first installs BUILD_DIR into ROOT with DESTDIR.
set -euo pipefail

if [ "${1:-}" = --install ]; then
  cmake=$2 build=$3 root=$4
  shift 4
  rm -rf "$root"
  DESTDIR=$root "$cmake" --install "$build" --prefix /usr >/dev/null
else
  root=$1
  shift
fi
usr=$root/usr
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

expected_bins=()
for rel in "$@"; do
  [ -f "$usr/$rel" ] || bad "missing $rel"
  case $rel in
    bin/*)
      expected_bins+=("${rel#bin/}")
      [ -x "$usr/$rel" ] || bad "$rel is not executable" ;;
  esac
done

if [ -d "$usr/bin" ]; then
  for f in "$usr"/bin/*; do
    name=${f##*/}
    printf '%s\n' "${expected_bins[@]}" | grep -qxF "$name" || bad "unexpected program bin/$name"
  done
fi

special=$(find "$root" -perm /6000 -print)
[ -z "$special" ] || bad "setuid or setgid files: $special"

id=com.morvalent.zn7qx_finder
desktop=$usr/share/applications/$id.desktop
if [ -f "$desktop" ]; then
  ! command -v desktop-file-validate >/dev/null || desktop-file-validate "$desktop" || bad "desktop entry does not validate"
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  program=${exec_line%% *}
  [ -x "$usr/bin/$program" ] || bad "desktop entry starts $program, which is not installed in bin/"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  svg=$usr/share/icons/hicolor/scalable/apps/$icon.svg
  [ -f "$svg" ] || bad "desktop entry names icon $icon, not installed as $svg"
  if [ -f "$svg" ]; then
    ! command -v xmllint >/dev/null || xmllint --noout "$svg" || bad "icon is not well-formed XML"
    grep -q '<svg' "$svg" || bad "icon holds no <svg> element"
  fi
fi

metainfo=$usr/share/metainfo/$id.metainfo.xml
if [ -f "$metainfo" ]; then
  grep -q "<id>$id</id>" "$metainfo" || bad "metainfo does not carry the id $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    bad "metainfo does not launch $id.desktop"
  ! command -v appstreamcli >/dev/null || appstreamcli validate --pedantic --no-net "$metainfo" >/dev/null ||
    bad "metainfo does not validate: $(appstreamcli validate --pedantic --no-net "$metainfo")"
fi

[ "$fail" = 0 ] && echo "install tree under $root is complete"
exit "$fail"
