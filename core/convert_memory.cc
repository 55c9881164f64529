#include "core/convert_memory.h"

#include <new>

#include "core/byte_source.h"
#include "core/convert_run.h"

namespace ledger {
namespace {

// A string that an output is appended to; running out of memory is a failed write.
class StringSink final : public OutputSink {
 public:
  explicit StringSink(std::string& bytes) : bytes_(bytes) {}
  bool Write(const void* data, std::size_t size) override {
    bytes_.append(static_cast<const char*>(data), size);
    return true;
  }

 private:
  std::string& bytes_;
};

// Outputs that are strings of `outputs`; only committed ones are kept.
class MemoryFiles final : public RunFiles {
 public:
  MemoryFiles(std::string_view exportBytes, MemoryOutputs& outputs)
      : source_(exportBytes),
        sinks_{StringSink(outputs.version), StringSink(outputs.scouts), StringSink(outputs.adults)},
        outputs_(outputs) {}

  OutputSink* Create(OutputFile file) override {
    Bytes(file).clear();
    return &sinks_[static_cast<int>(file)];
  }
  bool Commit(OutputFile) override { return true; }
  void Abandon(OutputFile file) override { std::string().swap(Bytes(file)); }
  ByteSource* OpenExport() override { return &source_; }
  std::string OutputName(OutputFile file) const override { return OutputFileName(file); }
  std::string ExportName() const override { return "Ledger.txt"; }

 private:
  std::string& Bytes(OutputFile file) {
    switch (file) {
      case OutputFile::kVersion:
        return outputs_.version;
      case OutputFile::kScouts:
        return outputs_.scouts;
      case OutputFile::kAdults:
        break;
    }
    return outputs_.adults;
  }

  MemorySource source_;
  StringSink sinks_[3];
  MemoryOutputs& outputs_;
};

}  // namespace

bool ConvertExportBytes(std::string_view exportBytes, MemoryOutputs& outputs, NoticeSink& sink) {
  MemoryFiles files(exportBytes, outputs);
  const bool completed = RunConversion(files, sink);
  if (!completed) {
    std::string().swap(outputs.version);
    std::string().swap(outputs.scouts);
    std::string().swap(outputs.adults);
  }
  return completed;
}

}  // namespace ledger
