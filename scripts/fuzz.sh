#!/usr/bin/env bash
# Runs the fuzz targets (fuzz/) over their seed corpora.
#
#   scripts/fuzz.sh            smoke run: builds the fuzz preset, then runs
#                              each target for a few seconds (under a minute
#                              in all)
#   scripts/fuzz.sh --long N   N seconds for each target, the corpus grown in
#                              build/fuzz/corpus/<target> (kept between runs)
#   scripts/fuzz.sh --no-build ...   use the targets already built
#
# The seeds in fuzz/corpus/ are only read. A crash leaves its input in
# build/fuzz/artifacts/<target>/ and the script fails; such an input
# belongs in tests/reliability/ as a regression test.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

seconds=10
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --long) seconds=${2:?--long needs a number of seconds}; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "fuzz.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

targets=(profile_fuzz registry_fuzz pe_strings_fuzz install_fuzz win9x_registry_fuzz
         disk_image_fuzz mtools_answers_fuzz msdos_sys_fuzz)
if [ "$build" = 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target fuzz_targets
fi

out=$repo/build/fuzz
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
  work=$out/corpus/$t
  artifacts=$out/artifacts/$t
  mkdir -p "$work" "$artifacts"
  dict=()
  [ -f "$repo/fuzz/$t.dict" ] && dict=(-dict="$repo/fuzz/$t.dict")
  log=$out/$t.log
  echo "== $t: ${seconds}s"
  # New inputs go to the working corpus; the seeds are merged in read only.
  if "$out/fuzz/$t" "$work" "$repo/fuzz/corpus/$t" "${dict[@]}" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "$t: ${runs:-?} runs, ${cov:-cov: ?}, no crash"
  else
    echo "$t: FAILED, see $log and $artifacts/" >&2
    tail -40 "$log" >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: crashes in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets, no crash"
