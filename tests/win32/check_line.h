// The Windows drivers' checks: each prints one "ok   - ..." or "FAIL - ..." line and is counted.
#ifndef LEDGER_TESTS_WIN32_CHECK_LINE_H_
#define LEDGER_TESTS_WIN32_CHECK_LINE_H_

#include <cstdarg>
#include <cstdio>

namespace ledger::testing {

struct CheckTally {
  int passed = 0;
  int failed = 0;
};

// The checks of this program so far.
inline CheckTally& Tally() {
  static CheckTally tally;
  return tally;
}

// Prints the check's line, `format` filled as printf does, and counts it; returns `ok`.
inline bool Check(bool ok, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf(ok ? "ok   - " : "FAIL - ");
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
  (ok ? Tally().passed : Tally().failed)++;
  return ok;
}

// Prints "N passed, N failed"; the program's exit status.
inline int Summary() {
  std::printf("%d passed, %d failed\n", Tally().passed, Tally().failed);
  return Tally().failed == 0 ? 0 : 1;
}

}  // namespace ledger::testing

#endif  // LEDGER_TESTS_WIN32_CHECK_LINE_H_
