#ifndef LEDGER_CORE_VERSION_FILE_H_
#define LEDGER_CORE_VERSION_FILE_H_

#include "core/output_sink.h"

namespace ledger {

// The 15 bytes of PVERSION.DAT, in its two CR LF lines.
inline constexpr const char kVersionLine1[] = "KZV 2.0\r\n";
inline constexpr const char kVersionLine2[] = "DRUV\r\n";

// Writes the two version lines to `out`; false as soon as a write fails, without trying the
// second line after a failed first one.
bool WriteVersionFile(OutputSink& out);

}  // namespace ledger

#endif  // LEDGER_CORE_VERSION_FILE_H_
