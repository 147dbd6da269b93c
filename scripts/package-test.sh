#!/usr/bin/env bash
# Builds the host program's Debian package, checks it with lintian (no
# error allowed), installs it with apt-get, runs the installed program on
# the example kit and machine (answered through a pipe), checks what it
# wrote into win.ini and that the manual page is found, and removes the
# package again. Needs root or password-less sudo (CI runs as root).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
scripts/install-deps.sh host package

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
export DEBIAN_FRONTEND=noninteractive

echo "== Debian package: build"
cmake --preset host >/dev/null
cmake --build --preset host --target pfmsetup pfmres pfm_package_docs >/dev/null
rm -rf build/host/package
(cd build/host && cpack --config CPackConfig.cmake -B package >/dev/null)
deb=$(ls build/host/package/pfmsetup_*.deb)
echo "$deb"
dpkg-deb -f "$deb" Package Version Depends Recommends

echo "== Debian package: lintian"
# Warnings are shown; an error fails the test.
lintian --fail-on error "$deb"

work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then "${sudo[@]}" apt-get purge -y -qq pfmsetup >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Debian package: install"
if dpkg-query -W -f='${Status}' pfmsetup 2>/dev/null | grep -q "ok installed"; then
  echo "package-test.sh: pfmsetup is installed already; remove it first" >&2
  exit 1
fi
cp "$deb" "$work/"
installed=1
"${sudo[@]}" apt-get install -y -qq "$work/$(basename "$deb")" >/dev/null
test -x /usr/bin/pfmsetup
test -f /usr/lib/pfmsetup/pfmres.dll
man -w pfmsetup | grep -q '/usr/share/man/man1/pfmsetup.1.gz'
man -P cat pfmsetup 2>/dev/null | grep -q 'EXIT STATUS'

echo "== Debian package: the installed program on the example"
cp -a examples/kit "$work/kit"
cp -a examples/machine "$work/machine"
# The prefix's drives: C: its own, D: the folder that holds the kit.
rm -f "$work"/machine/dosdevices/*
ln -s ../drive_c "$work/machine/dosdevices/c:"
ln -s "$work" "$work/machine/dosdevices/d:"
status=0
(cd "$work/kit" && printf 'ok\nok\n' | WINEPREFIX="$work/machine" XDG_RUNTIME_DIR="$work" XDG_STATE_HOME="$work/state" pfmsetup \
   > "$work/boxes.txt") || status=$?
cat "$work/boxes.txt"
ini="$work/machine/drive_c/windows/win.ini"
fail() { echo "package-test.sh: $*" >&2; exit 1; }
[ "$status" -eq 1 ] || fail "exit code $status, 1 expected after a run that asked"
grep -q '^\[pfmsetup\] Example Printer Works Example PostScript Font Kit Font Setup$' "$work/boxes.txt" \
  || fail "the boxes do not name the kit (pfmres.dll not found?)"
grep -q 'are now registered' "$work/boxes.txt" || fail "no success report"
tr -d '\r' < "$ini" | awk '/^\[PostScript,LPT1\]$/ {s=1; next} /^\[/ {s=0} s' > "$work/lpt1.txt"
grep -qx 'Softfonts=6' "$work/lpt1.txt" || fail "[PostScript,LPT1] lacks Softfonts=6"
grep -qFx 'softfont1=C:\windows\system32\EXSR____.PFM' "$work/lpt1.txt" || fail "[PostScript,LPT1] lacks softfont1"
grep -qFx 'softfont6=C:\windows\system32\EXMB____.PFM' "$work/lpt1.txt" || fail "[PostScript,LPT1] lacks softfont6"
tr -d '\r' < "$ini" | grep -qx 'Arial=Example Sans' || fail "no TrueType substitution in win.ini"

[ "$(pfmsetup --version)" = "pfmsetup $(dpkg-deb -f "$deb" Version)" ] || fail "pfmsetup --version is not the package's"
grep -q '^License: Expat' /usr/share/doc/pfmsetup/copyright || fail "the copyright file names no licence"

echo "== Debian package: remove"
"${sudo[@]}" apt-get purge -y -qq pfmsetup >/dev/null
installed=0
[ ! -e /usr/bin/pfmsetup ] && [ ! -e /usr/lib/pfmsetup ] || fail "files left after removing the package"
echo "package test passed"
