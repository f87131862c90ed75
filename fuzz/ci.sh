#!/usr/bin/env bash
# The fuzz step of CI: builds the fuzz preset and runs every fuzzer for FUZZ_SECONDS (30) seconds, two
# at a time, so that a decoder regression on hostile input is caught before it lands.
set -euo pipefail
cd "$(dirname "$0")/.."
exec fuzz/run_all.sh "${FUZZ_SECONDS:-30}"
