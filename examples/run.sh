#!/usr/bin/env bash
# Builds the host program and runs it in the example kit on fresh copies of
# the example installations, showing what each run changed in win.ini:
#   prefix   examples/machine, a Wine prefix in Windows 98 mode
#   drive    examples/win98-drive, a Windows 98 boot drive kept as a folder
#   image    the same drive inside a raw disk image made here
#            (examples/make-image.sh: an MBR, FAT16 at sector 63)
# With no argument it runs on all three, one after the other; name one to
# run on it alone (examples/run.sh image).
# The boxes are answered on the terminal; when standard input is not a
# terminal, the question and the report are answered OK here. The copies of
# win.ini that the runs keep go into the work folder, removed at the end.
# It installs what it needs and no more: mtools and dosfstools for the image.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
scripts/install-deps.sh host image
cmake --preset host >/dev/null
cmake --build --preset host --target pfmsetup pfmres >/dev/null

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(prefix drive image)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a examples/kit "$work/kit"

# Runs the program in the kit folder with the environment given, answering
# the boxes itself when there is no one at a terminal.
run() {
  local status=0
  if [ -t 0 ]; then
    (cd "$work/kit" && env "$@" XDG_STATE_HOME="$work/state" "$repo/build/host/pfmsetup") || status=$?
  else
    (cd "$work/kit" && printf 'ok\nok\n' | env "$@" XDG_STATE_HOME="$work/state" "$repo/build/host/pfmsetup") || status=$?
  fi
  echo
  echo "pfmsetup ended with exit code $status."
}

# What changed between two win.ini files, line ends aside.
changes() {
  diff -u --label "win.ini before" --label "win.ini after" <(tr -d '\r' < "$1") <(tr -d '\r' < "$2") || true
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    prefix)
      echo "== The Wine prefix examples/machine (WINEPREFIX)"
      cp -a examples/machine "$work/machine"
      # Wine maps Z: to the host's root; the link is made here, in the copy,
      # so that the repository holds no link that leads out of it.
      ln -s / "$work/machine/dosdevices/z:"
      run -u WIN9X_DRIVE WINEPREFIX="$work/machine"
      echo "What changed in its win.ini:"
      changes examples/machine/drive_c/windows/win.ini "$work/machine/drive_c/windows/win.ini"
      ;;
    drive)
      echo "== The Windows 98 drive examples/win98-drive (WIN9X_DRIVE)"
      cp -a examples/win98-drive "$work/drive"
      run WIN9X_DRIVE="$work/drive"
      echo "What changed in its WINDOWS\\WIN.INI:"
      changes examples/win98-drive/WINDOWS/WIN.INI "$work/drive/WINDOWS/WIN.INI"
      ;;
    image)
      echo "== The Windows 98 drive in a disk image (WIN9X_DRIVE naming the image file)"
      offset=$(examples/make-image.sh examples/win98-drive "$work/win98.img")
      MTOOLS_SKIP_CHECK=1 mtype -i "$work/win98.img@@$offset" ::/WINDOWS/WIN.INI > "$work/image-before.ini"
      run WIN9X_DRIVE="$work/win98.img"
      MTOOLS_SKIP_CHECK=1 mtype -i "$work/win98.img@@$offset" ::/WINDOWS/WIN.INI > "$work/image-after.ini"
      echo "What changed in the image's WINDOWS\\WIN.INI (read with mtype):"
      changes "$work/image-before.ini" "$work/image-after.ini"
      ;;
    *) echo "run.sh: unknown installation '$kind' (prefix, drive, image)" >&2; exit 2 ;;
  esac
  echo
done
