#!/usr/bin/env bash
# Configures and builds into build/ (BUILD_DIR overrides).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
# Lets ccache reuse objects between checkouts in different folders.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
