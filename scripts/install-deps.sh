#!/usr/bin/env bash
# Installs from Debian's packages what the builds and tests need and the
# machine lacks. Safe to run again: packages already there are left alone.
#   install-deps.sh host      compiler, CMake, GoogleTest, ncurses, MinGW binutils, tmux,
#                             libcreg (with libbfio, its header needs it) and cregexport
#   install-deps.sh windows   + the MinGW-w64 cross compiler, mtools and xorriso for the media
#   install-deps.sh wine      + Wine (32-bit, and 64-bit for a wineserver on kernels that run
#                             no 32-bit programs), Xvfb and xdotool
#   install-deps.sh fuzz      + clang with its sanitizer and fuzzer runtime
#   install-deps.sh package   + what builds, checks and reads the Debian package
#   install-deps.sh image     + mtools and dosfstools: disk images read, written and made
#                             (what examples/run.sh needs)
#   install-deps.sh image-tests + 7-Zip, qemu-img and qemu-system-i386: the image tests' second
#                             reader, other formats, and an emulator holding an image (its lock)
set -euo pipefail

want=()
for part in "$@"; do
  case "$part" in
    host) want+=(g++ cmake make pkg-config libgtest-dev libbenchmark-dev libncurses-dev binutils-mingw-w64-i686 python3
                 tmux libcreg-dev libbfio-dev libcreg-utils) ;;
    windows) want+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 mtools xorriso) ;;
    wine) want+=(wine wine32:i386 wine64 xvfb xauth xdotool x11-utils) ;;
    fuzz) want+=(clang libclang-rt-14-dev) ;;
    package) want+=(dpkg-dev lintian man-db) ;;
    image) want+=(mtools dosfstools) ;;
    image-tests) want+=(mtools dosfstools 7zip qemu-utils qemu-system-x86) ;;
    *) echo "install-deps.sh: unknown part '$part'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
