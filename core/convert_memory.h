#ifndef LEDGER_CORE_CONVERT_MEMORY_H_
#define LEDGER_CORE_CONVERT_MEMORY_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "core/convert_run.h"
#include "core/export_walk.h"
#include "core/notice.h"
#include "core/record_compare.h"

namespace ledger {

// The three files of a run held in memory, byte for byte as the file conversion writes them.
struct MemoryOutputs {
  std::string version;  // PVERSION.DAT
  std::string scouts;   // CPERW.DAT
  std::string adults;   // APERW.DAT
};

// Takes the outputs of an in-memory run as they are written: each file is begun, handed over in
// pieces in order, then either kept or dropped. A file begun again starts afresh.
class OutputReceiver {
 public:
  virtual ~OutputReceiver() = default;
  // A new version of `file` begins.
  virtual void Begin(OutputFile file) = 0;
  // The next `size` bytes of `file`; false when they cannot be taken. May throw std::bad_alloc.
  virtual bool Take(OutputFile file, const char* data, std::size_t size) = 0;
  // `file` is complete; false when its last pieces cannot be taken.
  virtual bool Keep(OutputFile file) = 0;
  // What was taken of `file` since it began is not a file.
  virtual void Drop(OutputFile file) = 0;
};

// Converts the export held in `exportBytes` with exactly the file conversion's rules, handing
// the outputs to `receiver` as they are written, and exactly one notice to `sink`. Returns
// whether the conversion completed; only then are all three files kept. `alongside`, when given,
// is told of the same read of the export (the check of a preview), and so is `comparison`, when
// given, loaded with the earlier record files, whose paragraph the success notice then carries.
// Never throws: running out of memory gives the out-of-memory notice.
bool ConvertExportBytes(std::string_view exportBytes, OutputReceiver& receiver, NoticeSink& sink,
                        MemberListener* alongside = nullptr,
                        RecordComparison* comparison = nullptr);

// ConvertExportBytes into strings: `outputs` hold the three files only when the conversion
// completed, and are cleared otherwise.
bool ConvertExportBytes(std::string_view exportBytes, MemoryOutputs& outputs, NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_MEMORY_H_
