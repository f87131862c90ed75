#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, builds, and runs every test with ctest.
# Under CI (CI=true) warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
if [ "${CI:-}" = "true" ]; then preset=ci; fi
scripts/setup.sh "$preset"
ctest --preset "$preset"
