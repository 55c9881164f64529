#include "core/convert_memory.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "core/byte_source.h"
#include "core/convert_run.h"
#include "core/records.h"

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
      : exportBytes_(exportBytes),
        source_(exportBytes),
        sinks_{StringSink(outputs.version), StringSink(outputs.scouts), StringSink(outputs.adults)},
        outputs_(outputs) {}

  OutputSink* Create(OutputFile file) override {
    std::string& bytes = Bytes(file);
    bytes.clear();
    Reserve(file, bytes);
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

  // Reserves what a file can grow to, so that it is never copied as it grows: a copy doubles the
  // memory a large run touches. Each export line makes at most one record, and the scouts are
  // written before the adults, so the adults take at most the lines the scouts did not. Only the
  // pages written are touched; where the reservation fails, the file grows as it goes.
  void Reserve(OutputFile file, std::string& bytes) {
    if (file == OutputFile::kVersion)
      return;
    if (lines_ == 0)
      lines_ =
          static_cast<std::size_t>(std::count(exportBytes_.begin(), exportBytes_.end(), '\n')) + 1;
    std::size_t records = lines_;
    if (file == OutputFile::kAdults)
      records -= std::min(records, outputs_.scouts.size() / kRecordSize);
    try {
      bytes.reserve(std::min(records, bytes.max_size() / kRecordSize) * kRecordSize);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
  }

  std::string_view exportBytes_;
  std::size_t lines_ = 0;  // the export's lines, counted when first needed
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
