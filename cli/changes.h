#ifndef LEDGER_CLI_CHANGES_H_
#define LEDGER_CLI_CHANGES_H_

#include <string>

#include "core/notice.h"

namespace ledger {

// What --changes found.
enum class ChangesResult { kNoChange, kChanges, kFailed };

// Prints on standard output what converting the export at `path`, which the user gave as
// `given`, would change in the CPERW.DAT and APERW.DAT beside it: a line for each member added,
// removed or changed, then one count line for the scouts and one for the adults. Writes no file.
// kFailed after one notice to `sink` when it cannot tell.
ChangesResult PrintChanges(const std::string& path, const char* given, NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_CLI_CHANGES_H_
