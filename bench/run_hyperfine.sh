#!/usr/bin/env bash
# Whole-process packing of the corpus tree: `quillmarsh pack` against `zip -r` (deflate) and
# `tar --zstd`, timed by hyperfine (median of several runs, page cache warm).
# Usage: bench/run_hyperfine.sh QUILLMARSH_EXE CORPUS_DIR OUT_DIR [RUNS]
set -euo pipefail
exe=$1
corpus=$2
out=$3
runs=${4:-5}
work=$(dirname "$corpus")
name=$(basename "$corpus")
mkdir -p "$out"

# Each command writes its own output; each run starts by removing it.
commands=("$exe pack --tree --no-derive -o $work/hf.qma $corpus")
names=("quillmarsh pack")
outputs=("$work/hf.qma")
# A parallel pack, when the program offers it.
if "$exe" pack --help 2>/dev/null | grep -q -- '--jobs'; then
  commands+=("$exe pack --tree --no-derive --jobs 2 -o $work/hf-jobs.qma $corpus")
  names+=("quillmarsh pack --jobs 2")
  outputs+=("$work/hf-jobs.qma")
fi
commands+=("cd $work && zip -r -q $work/hf.zip $name" "tar --zstd -cf $work/hf.tar.zst -C $work $name")
names+=("zip -r" "tar --zstd")
outputs+=("$work/hf.zip" "$work/hf.tar.zst")

args=()
for i in "${!commands[@]}"; do
  args+=(--command-name "${names[$i]}" --prepare "rm -f ${outputs[$i]}" "${commands[$i]}")
done
hyperfine --runs "$runs" --warmup 1 --style basic --export-json "$out/hyperfine_pack.json" "${args[@]}"
ls -l "${outputs[@]}" > "$out/hyperfine_pack_sizes.txt"
