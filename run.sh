#!/usr/bin/env bash
# Builds the converter, then converts FILE, or without an argument the bundled example.
set -euo pipefail
cd "$(dirname "$0")"
scripts/bootstrap
cmake --preset default >/dev/null
cmake --build --preset default --target ledger-convert >/dev/null
tool=build/default/cli/ledger-convert

if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi
demo=build/demo
mkdir -p "$demo"
cp examples/Ledger.txt "$demo/Ledger.txt"
"$tool" "$demo/Ledger.txt"
echo
echo "The three files are in $(pwd)/$demo: PVERSION.DAT, CPERW.DAT, APERW.DAT"
