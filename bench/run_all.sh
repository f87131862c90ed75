#!/usr/bin/env bash
# Runs every benchmark and the whole-process comparisons, then prints the results table.
#
#   bench/run_all.sh                 # full run: 100,000-file corpus, 5 repetitions
#   QM_BENCH_FILES=3000 REPS=1 bench/run_all.sh   # a quick smoke run
#
# Environment: QM_BENCH_FILES (corpus size, default 100000), QM_BENCH_DIR (work directory, default
# /tmp/quillmarsh-bench; needs about 3 GB), REPS (repetitions, default 5). Figures taken while other
# heavy processes run are worthless: the script warns when the load average is high, and with
# QM_BENCH_WAIT_QUIET=1 it waits for a quiet machine before each stage.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
export QM_BENCH_FILES=${QM_BENCH_FILES:-100000}
export QM_BENCH_DIR=${QM_BENCH_DIR:-/tmp/quillmarsh-bench}
reps=${REPS:-5}
build=$root/build/bench
out=$QM_BENCH_DIR/results
mkdir -p "$out"

bash "$here/install_peers.sh"
cmake --preset bench -S "$root" >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_pack bench_lookup bench_growth bench_tools qm_bench_corpus quillmarsh

# With QM_BENCH_WAIT_QUIET=1, each stage first waits (up to an hour) until no fuzzer runs and the
# one-minute load average is below 0.7; otherwise a busy machine only earns a warning.
quiet() {
  local load
  load=$(cut -d' ' -f1 /proc/loadavg)
  ! pgrep -f 'fuzz_' >/dev/null && awk -v l="$load" 'BEGIN { exit !(l < 0.7) }'
}
settle() {
  if [[ ${QM_BENCH_WAIT_QUIET:-0} == 1 ]]; then
    for _ in $(seq 120); do
      quiet && return 0
      sleep 30
    done
  fi
  quiet || echo "warning: load average $(cut -d' ' -f1 /proc/loadavg) or fuzzers running; figures now are not comparable" >&2
}
settle

{
  echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "cpu: $(lscpu | sed -n 's/^Model name: *//p') ($(nproc) logical CPUs)"
  echo "memory: $(free -g | awk '/^Mem:/ {print $2}') GiB"
  echo "kernel: $(uname -sr)"
  echo "compiler: $(c++ --version | head -1)"
  echo "zstd: $(dpkg-query -W -f='${Version}' libzstd-dev); libzip: $(pkg-config --modversion libzip 2>/dev/null || echo none)"
  echo "peers: $(zip -v | sed -n 2p | sed 's/^ *//'); $(tar --version | head -1); $(hyperfine --version)"
  echo "filesystem of $QM_BENCH_DIR: $(df -T "$QM_BENCH_DIR" | awk 'NR==2 {print $2}')"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "corpus: $QM_BENCH_FILES files; repetitions: $reps; stages: ${QM_BENCH_ONLY:-all}"
} >> "$out/machine.txt"
cat "$out/machine.txt"

# CPU seconds the whole machine has spent busy so far (all CPUs; /proc/stat counts hundredths).
busy_seconds() {
  awk '/^cpu / { print ($2 + $3 + $4 + $7 + $8) / 100 }' /proc/stat
}
# Runs one benchmark program. When other processes took more than 5 % of a CPU on average while it
# ran (the machine's busy time minus the program's own), its figures are discarded and it runs again,
# three times at most.
run() {
  local name=$1
  shift
  local attempt before after times other start
  for attempt in 1 2 3; do
    settle
    before=$(busy_seconds)
    start=$(date +%s.%N)
    TIMEFORMAT='%U %S'
    # Repetitions of different benchmarks are interleaved in random order, so that a slow spell of
    # the (virtual) machine spreads over all of them instead of skewing one.
    times=$({ time "$build/bench/bench_$name" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
      --benchmark_enable_random_interleaving=true \
      --benchmark_out="$out/$name.json" --benchmark_out_format=json "$@" > "$out/$name.txt" 2> "$out/$name.err"; } 2>&1)
    after=$(busy_seconds)
    other=$(awk -v b="$before" -v a="$after" -v t0="$start" -v t1="$(date +%s.%N)" -v own="$times" \
      'BEGIN { split(own, o, " "); printf "%.3f", (a - b - o[1] - o[2]) / (t1 - t0) }')
    cat "$out/$name.txt"
    echo "bench_$name: other processes used $other CPUs on average (attempt $attempt)" | tee -a "$out/machine.txt"
    if awk -v o="$other" 'BEGIN { exit !(o < 0.05) }'; then
      return 0
    fi
  done
}
# QM_BENCH_ONLY="pack hyperfine" runs only those stages (pack, lookup, growth, tools, hyperfine);
# the summary then takes the other stages' results from earlier runs in the same directory.
only=${QM_BENCH_ONLY:-pack lookup growth tools hyperfine}
wanted() { [[ " $only " == *" $1 "* ]]; }
for stage in pack lookup growth tools; do
  if wanted "$stage"; then run "$stage"; fi
done

# The corpus as a tree of files, written once per size ("N files, B bytes" kept beside it).
corpus=$QM_BENCH_DIR/corpus
if [[ ! -f $corpus.info-$QM_BENCH_FILES ]]; then
  rm -rf "$corpus" "$corpus".info-*
  "$build/bench/qm_bench_corpus" "$corpus" "$QM_BENCH_FILES" > "$corpus.info-$QM_BENCH_FILES.tmp"
  mv "$corpus.info-$QM_BENCH_FILES.tmp" "$corpus.info-$QM_BENCH_FILES"
fi
cp "$corpus.info-$QM_BENCH_FILES" "$out/corpus.txt"
if wanted hyperfine; then
  settle
  bash "$here/run_hyperfine.sh" "$build/apps/quillmarsh/quillmarsh" "$corpus" "$out" "$reps"
fi

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" >> "$out/machine.txt"
python3 "$here/summarize.py" "$out" | tee "$out/summary.md"
