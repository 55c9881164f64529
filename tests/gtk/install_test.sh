#!/usr/bin/env bash
# Installs the build tree BUILD_DIR into a temporary prefix and checks that the desktop program,
# its desktop file and its icons land where desktops look for them, and fit together.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build_dir" --prefix "$prefix" >/dev/null || fail "cmake --install failed"

program=$prefix/bin/ledger-convert-gui
[ -f "$program" ] && [ -x "$program" ] || fail "bin/ledger-convert-gui is missing or not executable"

desktop=$prefix/share/applications/org.ledgerconvert.LedgerConvert.desktop
[ -f "$desktop" ] || fail "share/applications/org.ledgerconvert.LedgerConvert.desktop is missing"
[ "$(head -1 "$desktop")" = "[Desktop Entry]" ] || fail "the desktop file has no [Desktop Entry]"
key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Type)" = Application ] || fail "the desktop file's Type is not Application"
[ -n "$(key Name)" ] || fail "the desktop file has no Name"
exec_name=$(key Exec | cut -d' ' -f1)
[ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name names no installed program"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop file"

metainfo=$prefix/share/metainfo/org.ledgerconvert.LedgerConvert.metainfo.xml
[ -f "$metainfo" ] || fail "share/metainfo/org.ledgerconvert.LedgerConvert.metainfo.xml is missing"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "the metainfo does not launch the installed desktop file"
for page in ledger-convert ledger-convert-gui; do
  [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "man page $page(1) is missing"
done

icon=$(key Icon)
[ -n "$icon" ] || fail "the desktop file has no Icon"
for size in 16 32 48 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png
  [ -f "$png" ] || fail "icon $icon is not installed at ${size}x${size}"
  [ "$(identify -format '%m %wx%h' "$png")" = "PNG ${size}x${size}" ] ||
    fail "$png is not a ${size}x${size} PNG"
done
echo "PASS: installed into $prefix"
