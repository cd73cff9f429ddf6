#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check-deb.sh DEB: a built zn7qx-finder package, beyond what lintian knows.
# Depends names this release's package of each library the programs link and
# of what Qt loads without a link (platform and SVG plugins, the window's
# font); no maintainer script sets permissions, no file is set-ID; the tree
# holds all an installed system needs. scripts/build-deb.sh runs it on the
# package it builds, with the dependencies installed.
set -euo pipefail
deb=$1
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

[ "$(dpkg-deb -f "$deb" Package)" = zn7qx-finder ] || bad "package name"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# Package names of the field, without versions or alternatives' bars.
names=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | awk '{print $1}')
# Each file pattern's package on this machine must be among them.
needs=()
for program in "$root"/usr/bin/*; do
  while read -r lib; do needs+=("*/$lib"); done < <(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}')
done
needs+=('*/qt6/plugins/platforms/libqxcb.so' '*/qt6/plugins/imageformats/libqsvg.so'
  '*/qt6/plugins/iconengines/libqsvgicon.so' '*/LiberationSans-Regular.ttf')
while read -r pattern; do
  owners=$(dpkg-query -S "$pattern" 2>/dev/null | grep -v '^diversion' | sed 's/: .*//; s/, /\n/g' | sed 's/:.*//' | sort -u || true)
  if [ -z "$owners" ]; then
    bad "no installed package ships ${pattern#\*/}"
  elif ! grep -qxF -f <(printf '%s\n' "$owners") <<<"$names"; then
    bad "Depends lacks $(paste -sd' ' <<<"$owners"), which ships ${pattern#\*/}"
  fi
done < <(printf '%s\n' "${needs[@]}" | sort -u)

# Nothing is made setuid or given capabilities on install: the scripts only
# restart the running watches on upgrade, stop them on removal and take away
# what they left.
dpkg-deb -I "$deb" | grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\*? *preinst' && bad "package carries a preinst"
scripts=$(mktemp -d) && dpkg-deb -e "$deb" "$scripts"
for script in postinst prerm postrm; do
  [ -x "$scripts/$script" ] || bad "no $script to restart or stop the watches and take away what they left"
done
grep -Eq 'setcap|chmod|chown' "$scripts"/p* 2>/dev/null && bad "a maintainer script changes permissions"
rm -rf "$scripts"
dpkg-deb -c "$deb" | awk '{print $1}' | grep -q '[sS]' && bad "package holds setuid or setgid entries"

expected=(bin/zn7qx-finder bin/zn7qx-scan
  share/man/man1/zn7qx-finder.1.gz share/man/man1/zn7qx-scan.1.gz
  share/applications/com.morvalent.zn7qx_finder.desktop
  share/metainfo/com.morvalent.zn7qx_finder.metainfo.xml
  share/icons/hicolor/scalable/apps/zn7qx-finder.svg
  share/bash-completion/completions/zn7qx-scan
  share/doc/zn7qx-finder/copyright share/doc/zn7qx-finder/changelog.gz
  share/doc/zn7qx-finder/README.watch share/doc/zn7qx-finder/examples/site.conf
  share/doc/zn7qx-finder/examples/zn7qx-alerts.yml
  share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/zn7qx-finder.png)
# Every expected path, nothing else in bin/ (--version below runs each), the
# desktop entry starting an installed program with an installed icon, the
# AppStream metadata naming that entry, and both validating.
usr=$root/usr
for rel in "${expected[@]}"; do [ -f "$usr/$rel" ] || bad "missing $rel"; done
for f in "$usr"/bin/*; do
  case ${f##*/} in zn7qx-finder | zn7qx-scan) ;; *) bad "unexpected program bin/${f##*/}" ;; esac
done

id=com.morvalent.zn7qx_finder
desktop=$usr/share/applications/$id.desktop
if [ -f "$desktop" ]; then
  ! command -v desktop-file-validate >/dev/null || desktop-file-validate "$desktop" || bad "desktop entry does not validate"
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
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

# The watch's unit (lintian knows where each release keeps them), starting
# the installed program.
unit=$(find "$root" -path '*/systemd/system/zn7qx-watch@.service')
[ -n "$unit" ] && grep -q '^ExecStart=/usr/bin/zn7qx-scan ' "$unit" || bad "no zn7qx-watch@.service starting /usr/bin/zn7qx-scan"

# The pages and the programs give the package's version.
version=$(dpkg-deb -f "$deb" Version)
for program in zn7qx-finder zn7qx-scan; do
  zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "^\.TH .*\"$program $version\"" ||
    bad "$program(1) does not carry version $version"
  [ "$("$root/usr/bin/$program" --version)" = "$program $version" ] || bad "$program --version is not $version"
done

[ "$fail" = 0 ] && echo "$deb is complete"
exit "$fail"
