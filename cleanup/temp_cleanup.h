#ifndef LEDGER_CLEANUP_TEMP_CLEANUP_H_
#define LEDGER_CLEANUP_TEMP_CLEANUP_H_

#include "core/temp_files.h"

namespace ledger {

// Removes the files listed in `temps` when the program is ended by SIGINT, SIGTERM or SIGHUP, then
// ends as the signal would; on Windows, when Ctrl+C, Ctrl+Break or closing the console ends it. A
// signal that whoever started the program ignores stays ignored. `temps` must outlive the program.
void RemoveTempFilesOnInterrupt(TempFileList& temps);

}  // namespace ledger

#endif  // LEDGER_CLEANUP_TEMP_CLEANUP_H_
