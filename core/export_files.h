#ifndef LEDGER_CORE_EXPORT_FILES_H_
#define LEDGER_CORE_EXPORT_FILES_H_

#include <string>

#include "core/byte_source.h"
#include "core/convert_run.h"
#include "core/file_stream.h"
#include "core/paths.h"
#include "core/replaced_file.h"
#include "core/temp_files.h"

namespace ledger {

// How a run may read its export: the dialogs take only a regular file, as a FIFO or a device
// would hold them frozen; the command reads a pipe too, for scripts.
enum class ExportSource { kAnyFile, kRegularFileOnly };

// A run's files on the disk: the export at a path, and the outputs beside it, each replacing its
// old version once complete.
class ExportFiles final : public RunFiles {
 public:
  // `exportPath` and `style` must outlive the files; `temps`, when given, lists each temporary
  // file while it exists.
  ExportFiles(const std::string& exportPath, const PathStyle& style, TempFileList* temps,
              ExportSource source);

  // Refuses an output that exists and is no regular file, and two of the outputs or the export
  // that are one file, naming the second.
  bool CheckOutputs(OutputFile& refused) override;
  OutputSink* Create(OutputFile file) override;
  bool Complete(OutputFile file) override;
  bool Commit(OutputFile file) override;
  bool Settle(OutputFile file) override;
  void Abandon(OutputFile file) override;
  ByteSource* OpenExport() override;
  std::string OutputName(OutputFile file) const override;
  std::string ExportName() const override { return exportPath_; }
  FileProblem Problem(OutputFile file) const override;
  FileProblem ExportProblem() const override { return exportProblem_; }

 private:
  ReplacedFile& Output(OutputFile file) { return outputs_[static_cast<int>(file)]; }

  const std::string& exportPath_;
  const PathStyle& style_;
  ExportSource source_;
  ReplacedFile outputs_[3];
  FileProblem refusal_;        // why CheckOutputs refused an output
  FileProblem exportProblem_;  // why the export could not be opened
  FileStream input_;
  FileSource bytes_{nullptr};
};

}  // namespace ledger

#endif  // LEDGER_CORE_EXPORT_FILES_H_
