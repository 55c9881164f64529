#ifndef LEDGER_CORE_CONVERT_RUN_H_
#define LEDGER_CORE_CONVERT_RUN_H_

#include <string>

#include "core/byte_source.h"
#include "core/export_walk.h"
#include "core/notice.h"
#include "core/output_sink.h"

namespace ledger {

enum class OutputFile { kVersion, kScouts, kAdults };

// "PVERSION.DAT", "CPERW.DAT" or "APERW.DAT".
const char* OutputFileName(OutputFile file);

// Where one run reads its export and writes its three outputs: files, or memory.
class RunFiles {
 public:
  virtual ~RunFiles() = default;
  // Begins a new version of `file`; nullptr when it cannot be created.
  virtual OutputSink* Create(OutputFile file) = 0;
  // Makes what was written to `file` its whole content; false when that failed.
  virtual bool Commit(OutputFile file) = 0;
  // Drops what was written to `file`; an older version stays as it was.
  virtual void Abandon(OutputFile file) = 0;
  // Opens the export; nullptr when it cannot be opened.
  virtual ByteSource* OpenExport() = 0;
  // What a warning about `file` names.
  virtual std::string OutputName(OutputFile file) const = 0;
  // What a warning about the export names.
  virtual std::string ExportName() const = 0;
};

// Converts the export of `files` into its three outputs, in order: the version file, then the
// export is opened, then the scout file is completed before the adult file is begun. Hands
// exactly one notice to `sink` and returns whether the conversion completed. `alongside`, when
// given, is told of the same walk of the export as it goes (a check, say). Never throws: running
// out of memory gives the out-of-memory warning.
bool RunConversion(RunFiles& files, NoticeSink& sink, MemberListener* alongside = nullptr);

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_RUN_H_
