#!/usr/bin/env bash
# Sets up, builds and starts Signetrix.
#
# A build that points at the loopback server (the default) needs that server
# for registration, backup, restore and update: when nothing answers on its
# web address yet, the maker's server is started in the background first, with
# its data folder under the user's state directory and a release of this very
# build published on it. SIGNETRIX_NO_SERVER=1 skips that.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

answers() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

start_loopback_server() {
  local host_url host port data log
  host_url="$(sed -n 's/^SIGNETRIX_DOWNLOAD_HOST:STRING=//p' "$BUILD_DIR/CMakeCache.txt")"
  [[ "$host_url" =~ ^http://(127\.0\.0\.1|localhost)(:([0-9]+))?/?$ ]] || return 0
  [ -x "$BUILD_DIR/server/signetrix_server" ] || return 0
  host="127.0.0.1"
  port="${BASH_REMATCH[3]:-80}"
  answers "$host" "$port" && return 0
  data="${XDG_STATE_HOME:-$HOME/.local/state}/signetrix-server"
  mkdir -p "$data"
  if [ ! -e "$data/download/Signetrix.zip" ]; then
    "$BUILD_DIR/server/signetrix_server" publish --data "$data" --key "$ROOT/server/keys/loopback.key" \
      "$BUILD_DIR/src/app/Signetrix" >/dev/null
  fi
  log="$data/server.log"
  echo "Starting the loopback server on http://$host:$port (log: $log)"
  nohup "$BUILD_DIR/server/signetrix_server" --http "$host:$port" --data "$data" >>"$log" 2>&1 </dev/null &
  for _ in $(seq 1 100); do
    answers "$host" "$port" && return 0
    sleep 0.1
  done
  echo "The loopback server did not start; see $log" >&2
}

if [ -z "${SIGNETRIX_NO_SERVER:-}" ]; then start_loopback_server; fi
# The embedded browser refuses to start its sandbox as root.
if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
exec "$BUILD_DIR/src/app/Signetrix"
