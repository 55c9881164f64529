#ifndef LEDGER_CORE_CONVERT_EXPORT_H_
#define LEDGER_CORE_CONVERT_EXPORT_H_

#include <string>

#include "core/notice.h"
#include "core/paths.h"

namespace ledger {

// Converts the export file at `exportPath` into PVERSION.DAT, CPERW.DAT and APERW.DAT beside it,
// hands exactly one notice to `sink` and returns whether the conversion completed.
bool ConvertExport(const std::string& exportPath, NoticeSink& sink,
                   const PathStyle& style = NativePathStyle());

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_EXPORT_H_
