#!/usr/bin/env bash
# Installs the peer tools and libraries that only the benchmarks use, when they are missing:
# zip (deflate archiver), hyperfine (whole-process timing), libzip-dev (in-process zip peer),
# zstd (the compressor behind tar --zstd), pkg-config (to find libzip). The main build never needs them.
set -euo pipefail

needed=()
for pkg in zip hyperfine libzip-dev zstd pkg-config tar; do
  dpkg -s "$pkg" >/dev/null 2>&1 || needed+=("$pkg")
done
if ((${#needed[@]} == 0)); then
  exit 0
fi
echo "bench: installing ${needed[*]}" >&2
if [[ $(id -u) -ne 0 ]]; then
  sudo apt-get update -q && sudo apt-get install -y -q "${needed[@]}"
else
  apt-get update -q && apt-get install -y -q "${needed[@]}"
fi
