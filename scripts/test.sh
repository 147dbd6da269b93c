#!/usr/bin/env bash
# Runs every test of the project on a Debian machine, installing what is
# missing first: the Windows build (pfmsetup.exe, pfmres.dll) and its
# checks, the host build and all of its tests, among them the comparisons
# with Wine, and the host program's Debian package (built, checked,
# installed, run on the example and removed).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

scripts/install-deps.sh host windows wine fuzz package image image-tests
export WINEDEBUG=${WINEDEBUG:--all}

echo "== Windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

echo "== Host build"
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

echo "== Host build under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== Fuzz smoke run"
scripts/fuzz.sh

echo "== Debian package"
scripts/package-test.sh
