# Sourced by scripts/test-package and the checks of each package that it runs: what a check
# prints and counts, and where the packages of this version are in dist/. Runs from the top of
# the repository.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
failures=0
ok() { echo "ok   - $*"; }
fail() {
  echo "FAIL - $*"
  failures=$((failures + 1))
}
not_grep() { ! grep -q -F "$@"; }
not() { ! "$@"; }
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

version=$(sed -n 's/^project(LedgerConvert VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=dist/ledger-convert_${version}_amd64.deb
zip=dist/LedgerConvert-${version}-win32.zip
msi=dist/LedgerConvert-${version}-win32.msi
web_zip=dist/ledger-convert-web-${version}.zip
commit=$(git log -1 --format=%ct)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Fails at once when scripts/package did not build FILE.
built() {
  [ -f "$1" ] || { echo "FAIL - $1 was not built"; exit 1; }
}

# The zip ARCHIVE's members: read and write for the owner, read for the others, and the last
# commit's time, so that the build's own times do not show. The zip format keeps even seconds.
check_zip_members() {
  local archive=$1 even=$((commit - commit % 2))
  dated() { TZ=UTC date -d "@$1" +%Y%m%d.%H%M%S; }
  check "$(basename "$archive")'s members are -rw-r--r-- and dated $(dated "$commit")" \
    test -z "$(TZ=UTC zipinfo -T "$archive" | awk -v a="$(dated $even)" -v b="$(dated $((even + 2)))" \
      '/^[-d]/ && ($1 != "-rw-r--r--" || ($7 != a && $7 != b))')"
}

# Ends the script: status 1 when a check failed, else STATUS (0 by default).
finish() {
  local name=$(basename "$0")
  if [ $failures -ne 0 ]; then
    echo "$name: $failures check(s) failed"
    exit 1
  fi
  exit "${1:-0}"
}
