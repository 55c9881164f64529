#ifndef LEDGER_CORE_CONVERT_EXPORT_H_
#define LEDGER_CORE_CONVERT_EXPORT_H_

#include <string>

#include "core/export_files.h"
#include "core/notice.h"
#include "core/paths.h"
#include "core/temp_files.h"

namespace ledger {

// Converts the export file at `exportPath` into PVERSION.DAT, CPERW.DAT and APERW.DAT beside it,
// each replaced whole or not at all; hands exactly one notice to `sink` and returns whether the
// conversion completed. `temps`, when given, lists each temporary file while it exists.
bool ConvertExport(const std::string& exportPath, NoticeSink& sink,
                   const PathStyle& style = NativePathStyle(), TempFileList* temps = nullptr,
                   ExportSource source = ExportSource::kAnyFile);

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_EXPORT_H_
