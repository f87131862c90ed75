#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds one
# CMake preset. Usage: scripts/setup.sh [PRESET] (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-default}"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
          libzstd-dev libexpected-dev libfmt-dev libspdlog-dev nlohmann-json3-dev libcli11-dev
          googletest libgtest-dev libgmock-dev libbenchmark-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
