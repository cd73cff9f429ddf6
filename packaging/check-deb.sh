#!/usr/bin/env bash
# check-deb.sh CPACK BUILD_DIR OUT_DIR EXPECTED...
# Builds the Debian package of BUILD_DIR into OUT_DIR, checks its control
# data, and checks the tree it unpacks to with check-install-tree.sh.
set -euo pipefail
cpack=$1 build=$2 out=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb missing" >&2; exit 77; }
command -v dpkg-shlibdeps >/dev/null || { echo "SKIP: dpkg-shlibdeps missing (dpkg-dev)" >&2; exit 77; }

rm -rf "$out"
mkdir -p "$out"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
  cat "$out/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb in $out" >&2; exit 1; }
deb=${debs[0]}
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

[ "$(dpkg-deb -f "$deb" Package)" = zn7qx-finder ] || bad "package name"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
wanted=(libc6 libstdc++6)
if printf '%s\n' "$@" | grep -qx bin/zn7qx-finder; then
  wanted+=(libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-dejavu-core)
fi
# Package names of the field, without versions or alternatives' bars.
names=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
for p in "${wanted[@]}"; do
  grep -qxF "$p" <<<"$names" || bad "Depends lacks $p"
done

# No maintainer script: nothing is setuid'ed or given capabilities on install.
dpkg-deb -I "$deb" | grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\*? *(preinst|postinst)' &&
  bad "package carries a maintainer script"
if dpkg-deb -c "$deb" | awk '{print $1}' | grep -q '[sS]'; then
  bad "package holds setuid or setgid entries"
fi

dpkg-deb -x "$deb" "$out/root"
"$here/check-install-tree.sh" "$out/root" "$@" || fail=1
[ "$fail" = 0 ] && echo "$deb is complete"
exit "$fail"
