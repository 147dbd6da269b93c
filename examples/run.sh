#!/usr/bin/env bash
# Builds the host program, runs it in the example kit against a fresh copy
# of the example machine (a Wine prefix in Windows 98 mode with three
# printers), and shows what the run changed in that copy's win.ini.
# The boxes are answered on the terminal; when standard input is not a
# terminal, the question and the report are answered OK here.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
scripts/install-deps.sh host
cmake --preset host >/dev/null
cmake --build --preset host --target pfmsetup pfmres >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a examples/machine "$work/machine"
# Wine maps Z: to the host's root; the link is made here, in the copy, so
# that the repository holds no link that leads out of it.
ln -s / "$work/machine/dosdevices/z:"
cp -a examples/kit "$work/kit"
cd "$work/kit"
status=0
if [ -t 0 ]; then
  WINEPREFIX="$work/machine" "$repo/build/host/pfmsetup" || status=$?
else
  printf 'ok\nok\n' | WINEPREFIX="$work/machine" "$repo/build/host/pfmsetup" || status=$?
fi
echo
echo "pfmsetup ended with exit code $status. What changed in win.ini:"
diff -u --label "win.ini before" --label "win.ini after" \
  <(tr -d '\r' < "$repo/examples/machine/drive_c/windows/win.ini") \
  <(tr -d '\r' < "$work/machine/drive_c/windows/win.ini") || true
