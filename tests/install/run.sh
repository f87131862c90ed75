#!/bin/sh
# Installs an already built quillmarsh tree into a scratch prefix, then builds and runs a consumer
# project that finds it with find_package(quillmarsh CONFIG) against that prefix alone.
# Usage: run.sh <build dir> [generator]
set -eu

build=$(cd "${1:?usage: run.sh <build dir> [generator]}" && pwd)
generator=${2:-Ninja}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmarsh-install.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$here/consumer" -B "$work/consumer" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$work/bundle.qma"
