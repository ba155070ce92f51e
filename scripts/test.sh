#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. Exits non-zero on any failure.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
cd "$BUILD_DIR"
ctest --output-on-failure -j2 --timeout 600 "$@"
