#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")"
scripts/bootstrap || exit 1
# CI treats compiler warnings as errors.
if [ "${CI:-}" = true ]; then
  export LEDGER_WERROR=ON
fi

status=0
for stage in scripts/test-format scripts/test-native scripts/test-win32 scripts/test-asan \
  scripts/test-fuzz scripts/test-web; do
  [ -x "$stage" ] || continue
  echo "==> ${stage#scripts/}"
  if ! "$stage"; then
    echo "==> ${stage#scripts/} FAILED"
    status=1
  fi
done
[ $status -eq 0 ] && echo "==> all tests passed"
exit $status
