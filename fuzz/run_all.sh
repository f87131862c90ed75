#!/usr/bin/env bash
# Builds the fuzz preset, regenerates the seed corpora, and runs every fuzzer for SECONDS each.
# Usage: fuzz/run_all.sh SECONDS [TARGET...]    (default: all targets; FUZZ_JOBS fuzzers at a time, 2)
# Each fuzzer works on its own copy of the corpus in build/fuzz/work/<target> (kept between runs, so
# the repository's seeds are never flooded); logs go to build/fuzz/logs/<target>.log and any crashing
# input to build/fuzz/artifacts/<target>/. Prints executions, coverage and peak memory per target and
# exits non-zero if any fuzzer found a crash, a leak, a timeout or an out-of-memory input.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
all_targets=(archive setup_model surface surface_texture texture landblock_info gfx_obj_surfaces
             motion_table animation kinematics walker parse_hex_u32)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
jobs="${FUZZ_JOBS:-2}"

build=build/fuzz
cmake --preset fuzz >/dev/null
cmake --build "$build" -j"$(nproc)" --target make_seeds "${targets[@]/#/fuzz_}"
"$build/make_seeds" fuzz/corpus

mkdir -p "$build/work" "$build/logs" "$build/artifacts"
# A small quarantine keeps the fuzzers' own memory well below the RSS limit; leaks are still reported.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=32:detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local target="$1"
  local work="$build/work/$target" artifacts="$build/artifacts/$target" dict=()
  mkdir -p "$work" "$artifacts"
  rm -f "$build/logs/$target.rc"
  cp fuzz/corpus/"$target"/* "$work"/
  [[ -f fuzz/dict/$target.dict ]] && dict=(-dict="fuzz/dict/$target.dict")
  "$build/fuzz_$target" "$work" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=512 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$build/logs/$target.log" 2>&1
}

declare -A status
running=0
for target in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  (
    rc=0
    run_one "$target" || rc=$?
    echo "$rc" >"$build/logs/$target.rc"
  ) &
  running=$((running + 1))
done
wait

failed=0
printf '%-18s %12s %8s %8s %10s  %s\n' target executions cov ft peak_rss result
for target in "${targets[@]}"; do
  log="$build/logs/$target.log"
  rc="$(cat "$build/logs/$target.rc" 2>/dev/null || echo 1)"
  execs="$(awk '/^stat::number_of_executed_units:/ {v = $2} END {print v}' "$log")"
  rss="$(awk '/^stat::peak_rss_mb:/ {v = $2} END {print v}' "$log")"
  final="$(grep -E '^#[0-9]+' "$log" | tail -1)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$final")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$final")"
  result=ok
  if [[ "$rc" != 0 ]]; then
    result="FAILED (rc $rc, see $log and $build/artifacts/$target/)"
    failed=1
  fi
  printf '%-18s %12s %8s %8s %8sMB  %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${rss:-?}" "$result"
done
exit "$failed"
