#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, builds, and runs the demo: a synthetic content set
# packed, verified, listed, sharded and exported. Usage: scripts/demo.sh [OUTPUT_DIR] (default: out/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default
exec build/default/apps/quillmarsh/quillmarsh demo "${1:-out/demo}"
