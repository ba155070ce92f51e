#!/usr/bin/env bash
# Sets up, builds and starts the maker's server in the foreground on loopback:
# web side on 127.0.0.1:8088, FTP side on 127.0.0.1:2121 (the program's
# defaults), data under the user's state folder. Extra arguments go to the
# server (see signetrix_server --help). Ctrl+C stops it and its FTP side.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
DATA_DIR="${XDG_STATE_HOME:-$HOME/.local/state}/signetrix-server"
"$ROOT/scripts/setup.sh"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target signetrix_server -j"$(nproc)"
mkdir -p "$DATA_DIR"
echo "Data folder: $DATA_DIR (confirmation mails land in $DATA_DIR/outbox)" >&2
exec "$BUILD_DIR/server/signetrix_server" --http 127.0.0.1:8088 --ftp 127.0.0.1:2121 --data "$DATA_DIR" "$@"
