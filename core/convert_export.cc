#include "core/convert_export.h"

#include "core/byte_source.h"
#include "core/convert_run.h"
#include "core/file_stream.h"
#include "core/same_file.h"

namespace ledger {
namespace {

// The outputs beside the export file, each replacing its old version once complete.
class ExportFiles final : public RunFiles {
 public:
  ExportFiles(const std::string& exportPath, const PathStyle& style, TempFileListener* temps)
      : exportPath_(exportPath),
        style_(style),
        outputs_{ReplacedFile(temps), ReplacedFile(temps), ReplacedFile(temps)} {}

  OutputSink* Create(OutputFile file) override {
    const std::string path = OutputName(file);
    // The run never writes over the file it reads: an export that is itself one of the outputs
    // would be destroyed before it is read.
    ReplacedFile& output = Output(file);
    if (SameFile(path, exportPath_) || !output.Open(path)) {
      return nullptr;
    }
    if (file != OutputFile::kVersion) {
      output.DisableBuffering();  // the records go out in whole blocks already
    }
    return &output;
  }
  bool Commit(OutputFile file) override { return Output(file).Commit(); }
  void Abandon(OutputFile file) override { Output(file).Abandon(); }
  ByteSource* OpenExport() override {
    if (!input_.Open(exportPath_, "rb")) {
      return nullptr;
    }
    source_ = FileSource(input_.get());
    return &source_;
  }
  std::string OutputName(OutputFile file) const override {
    return OutputPath(exportPath_, OutputFileName(file), style_);
  }
  std::string ExportName() const override { return exportPath_; }

 private:
  ReplacedFile& Output(OutputFile file) { return outputs_[static_cast<int>(file)]; }

  const std::string& exportPath_;
  const PathStyle& style_;
  ReplacedFile outputs_[3];
  FileStream input_;
  FileSource source_{nullptr};
};

}  // namespace

bool ConvertExport(const std::string& exportPath, NoticeSink& sink, const PathStyle& style,
                   TempFileListener* temps) {
  ExportFiles files(exportPath, style, temps);
  return RunConversion(files, sink);
}

}  // namespace ledger
