#!/usr/bin/env bash
# Builds the converter, then converts FILE; without an argument it opens the desktop dialog when
# a display is available, and otherwise converts the bundled example. With --web [PORT] it builds
# the browser page and serves it on 127.0.0.1 (default port 8080).
set -euo pipefail
cd "$(dirname "$0")"
# Stops with one line when PORT is not a port number or is already taken on 127.0.0.1.
check_port() {
  if ! [[ $1 =~ ^[0-9]{1,5}$ ]] || [ "$1" -lt 1 ] || [ "$1" -gt 65535 ]; then
    echo "run.sh: $1 is not a port number (1 to 65535); choose one with ./run.sh --web PORT" >&2
    exit 2
  fi
  # SO_REUSEADDR as http.server binds: a port left only in TIME_WAIT is free for it.
  if ! python3 -c '
import socket, sys
with socket.socket() as s:
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("127.0.0.1", int(sys.argv[1])))
    except OSError:
        sys.exit(1)' "$1"; then
    echo "run.sh: port $1 on 127.0.0.1 is in use; choose another with ./run.sh --web PORT" >&2
    exit 1
  fi
}

if [ "${1:-}" = --web ]; then
  scripts/bootstrap web
  port=${2:-8080}
  check_port "$port"
  cmake --preset web >/dev/null
  cmake --build --preset web >/dev/null
  site=$(pwd)/build/web/site
  check_port "$port"
  echo "The page: http://127.0.0.1:$port/"
  echo "The same page straight from the disk: file://$site/index.html"
  echo "(Ctrl+C stops the server.)"
  exec python3 -m http.server --bind 127.0.0.1 --directory "$site" "$port"
fi
scripts/bootstrap running
cmake --preset default >/dev/null

if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  if cmake --build --preset default --target ledger-convert-gui >build/gui-build.log 2>&1; then
    exec build/default/shell/gtk/ledger-convert-gui
  fi
  echo "The desktop dialog could not be built (see build/gui-build.log and the configure output)."
fi

cmake --build --preset default --target ledger-convert >/dev/null
tool=build/default/cli/ledger-convert
if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): converting the bundled example"
  echo "with ledger-convert instead of opening the dialog."
fi
demo=build/demo
mkdir -p "$demo"
cp examples/Ledger.txt "$demo/Ledger.txt"
"$tool" "$demo/Ledger.txt"
echo
echo "The three files are in $(pwd)/$demo: PVERSION.DAT, CPERW.DAT, APERW.DAT"
