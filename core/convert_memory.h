#ifndef LEDGER_CORE_CONVERT_MEMORY_H_
#define LEDGER_CORE_CONVERT_MEMORY_H_

#include <string>
#include <string_view>

#include "core/notice.h"

namespace ledger {

// The three files of a run held in memory, byte for byte as the file conversion writes them.
struct MemoryOutputs {
  std::string version;  // PVERSION.DAT
  std::string scouts;   // CPERW.DAT
  std::string adults;   // APERW.DAT
};

// Converts the export held in `exportBytes` with exactly the file conversion's rules, hands
// exactly one notice to `sink` and returns whether the conversion completed. The outputs hold
// the three files only when it did; they are cleared otherwise. Never throws: running out of
// memory gives the out-of-memory notice.
bool ConvertExportBytes(std::string_view exportBytes, MemoryOutputs& outputs, NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_MEMORY_H_
