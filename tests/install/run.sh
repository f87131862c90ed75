#!/bin/sh
# Builds and installs quillmarsh into a scratch prefix, then builds and runs a consumer project
# against that prefix alone. Usage: run.sh <source dir> [generator]
set -eu

src=$(cd "${1:?usage: run.sh <source dir> [generator]}" && pwd)
generator=${2:-Ninja}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmarsh-install.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

cmake -S "$src" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DQUILLMARSH_BUILD_TESTS=OFF -DQUILLMARSH_BUILD_APPS=OFF -DQUILLMARSH_BUILD_BENCH=OFF -DQUILLMARSH_BUILD_FUZZ=OFF
cmake --build "$work/build" -j2 --target quillmarsh_common quillmarsh_dat quillmarsh_tools
cmake --install "$work/build" --prefix "$work/prefix"

cmake -S "$here/consumer" -B "$work/consumer" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON
cmake --build "$work/consumer"
"$work/consumer/consumer" "$work/bundle.qma"
