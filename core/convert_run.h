#ifndef LEDGER_CORE_CONVERT_RUN_H_
#define LEDGER_CORE_CONVERT_RUN_H_

#include <string>

#include "core/byte_source.h"
#include "core/export_walk.h"
#include "core/notice.h"
#include "core/output_sink.h"
#include "core/record_compare.h"

namespace ledger {

enum class OutputFile { kVersion, kScouts, kAdults };

// "PVERSION.DAT", "CPERW.DAT" or "APERW.DAT".
const char* OutputFileName(OutputFile file);

// Where one run reads its export and writes its three outputs: files, or memory. A new version of
// an output is begun, completed, then committed, and its place then settled; until it is
// committed the older version stays as it was.
class RunFiles {
 public:
  virtual ~RunFiles() = default;
  // Checks, before anything is written, that every output may be replaced; false, with the
  // output refused in `refused`, when one may not.
  virtual bool CheckOutputs(OutputFile& refused) {
    (void)refused;
    return true;
  }
  // Begins a new version of `file`; nullptr when it cannot be created.
  virtual OutputSink* Create(OutputFile file) = 0;
  // Makes what was written to `file` whole and durable, ready to be committed; false when that
  // failed, and the new version is then dropped.
  virtual bool Complete(OutputFile file) {
    (void)file;
    return true;
  }
  // Makes the completed new version of `file` its content; false when that failed.
  virtual bool Commit(OutputFile file) = 0;
  // Makes the commit of `file` durable; false when that failed (the new version is in place).
  virtual bool Settle(OutputFile file) {
    (void)file;
    return true;
  }
  // Drops what was written to `file`; an older version stays as it was.
  virtual void Abandon(OutputFile file) = 0;
  // Opens the export; nullptr when it cannot be opened.
  virtual ByteSource* OpenExport() = 0;
  // What a warning about `file` names.
  virtual std::string OutputName(OutputFile file) const = 0;
  // What a warning about the export names.
  virtual std::string ExportName() const = 0;
  // Why the last call about `file` that failed failed, where known.
  virtual FileProblem Problem(OutputFile file) const {
    (void)file;
    return FileProblem();
  }
  // Why the export could not be opened, where known.
  virtual FileProblem ExportProblem() const { return FileProblem(); }
};

// Converts the export of `files` into its three outputs, in order: every output is checked, the
// version file is written and committed, then the export is opened, the scout file is completed
// before the adult file is begun, and only once both are complete are they committed, scouts
// first, so that the two record files change together or not at all. Hands
// exactly one notice to `sink` and returns whether the conversion completed. `alongside`, when
// given, is told of the same walk of the export as it goes (a check, say). `comparison`, when
// given and loaded with the record files being replaced, is told of the walk too, and the
// success notice says what they held; it never makes the run fail. Never throws: running out of
// memory gives the out-of-memory warning.
bool RunConversion(RunFiles& files, NoticeSink& sink, MemberListener* alongside = nullptr,
                   RecordComparison* comparison = nullptr);

}  // namespace ledger

#endif  // LEDGER_CORE_CONVERT_RUN_H_
