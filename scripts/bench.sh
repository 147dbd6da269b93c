#!/usr/bin/env bash
# Builds and runs the installation benchmark, then plots it.
#
#   scripts/bench.sh [benchmark options...]
#
# Prints every figure with its ratio to the floor (reading the kit and
# writing the resulting win.ini once), the targets and whether they hold;
# writes the figures to build/bench/results.json and the plot of time
# against F x P to build/bench/performance.svg. Where Wine and the MinGW
# compiler are present, the same installation (F = 2000, P = 1) is also
# run with the Windows build under Wine, in a Windows 98 prefix made for
# this run in a temporary folder, and set beside the host's figure.
#
# Set PFM_BENCH_NO_WINE=1 to leave Wine out. Further options go to the
# benchmark program, e.g. --pfm-quick (smaller scenarios only) or
# --benchmark_filter=REGEX.
#
# Exits 3 when some target does not hold (after writing the JSON and plot).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

scripts/install-deps.sh host

cmake --preset bench >/dev/null
cmake --build --preset bench

out=build/bench
json=$out/results.json
wine_args=()
wine_root=
cleanup() {
  if [ -n "$wine_root" ]; then
    WINEPREFIX="$wine_root/pfx" wineserver -k 2>/dev/null || true
    rm -rf "$wine_root"
  fi
}
trap cleanup EXIT

if [ -z "${PFM_BENCH_NO_WINE:-}" ] && wine --version >/dev/null 2>&1 && [ -f "$out/wine_install_timer.exe" ]; then
  wine_root=$(mktemp -d /tmp/pfmbench-wine-XXXXXX)
  echo "== Making a Windows 98 Wine prefix in $wine_root/pfx" >&2
  (
    export WINEPREFIX="$wine_root/pfx" WINEARCH=win32 WINEDEBUG=-all
    wineboot -i >/dev/null 2>&1
    wine winecfg -v win98 >/dev/null 2>&1
    wineserver -w
  )
  wine_args=(--pfm-wine-prefix="$wine_root/pfx" --pfm-wine-timer="$repo/$out/wine_install_timer.exe")
else
  echo "== Wine figure left out (no wine, no timer program, or PFM_BENCH_NO_WINE set)" >&2
fi

status=0
"$out/install_bench" --pfm-json="$json" "${wine_args[@]}" "$@" || status=$?
if [ ! -s "$json" ]; then
  echo "bench.sh: the benchmark wrote no results (exit $status)" >&2
  exit "${status/#0/1}"
fi
python3 scripts/plot_bench.py "$json" "$out/performance.svg"
exit "$status"
