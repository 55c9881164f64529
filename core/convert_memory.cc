#include "core/convert_memory.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "core/byte_source.h"
#include "core/export_reader.h"
#include "core/records.h"

namespace ledger {
namespace {

// One output's pieces, handed to the receiver as the run writes them.
class ReceiverSink final : public OutputSink {
 public:
  ReceiverSink(OutputReceiver& receiver, OutputFile file) : receiver_(receiver), file_(file) {}
  bool Write(const void* data, std::size_t size) override {
    return receiver_.Take(file_, static_cast<const char*>(data), size);
  }

 private:
  OutputReceiver& receiver_;
  OutputFile file_;
};

// Outputs that go to a receiver; the export is read from memory.
class ReceiverFiles final : public RunFiles {
 public:
  ReceiverFiles(std::string_view exportBytes, OutputReceiver& receiver)
      : source_(exportBytes),
        receiver_(receiver),
        sinks_{ReceiverSink(receiver, OutputFile::kVersion),
               ReceiverSink(receiver, OutputFile::kScouts),
               ReceiverSink(receiver, OutputFile::kAdults)} {}

  OutputSink* Create(OutputFile file) override {
    receiver_.Begin(file);
    return &sinks_[static_cast<int>(file)];
  }
  bool Commit(OutputFile file) override { return receiver_.Keep(file); }
  void Abandon(OutputFile file) override { receiver_.Drop(file); }
  ByteSource* OpenExport() override { return &source_; }
  std::string OutputName(OutputFile file) const override { return OutputFileName(file); }
  std::string ExportName() const override { return "Ledger.txt"; }

 private:
  MemorySource source_;
  OutputReceiver& receiver_;
  ReceiverSink sinks_[3];
};

// Appends each file to a string of `outputs`, reserved at its bound: a string that grew would be
// copied as it did, doubling the memory a large run touches.
class StringReceiver final : public OutputReceiver {
 public:
  StringReceiver(std::string_view exportBytes, MemoryOutputs& outputs)
      : exportBytes_(exportBytes), outputs_(outputs) {}
  void Begin(OutputFile file) override {
    std::string& bytes = Bytes(file);
    bytes.clear();
    if (file == OutputFile::kVersion) {
      return;
    }
    try {
      bytes.reserve(std::min(RecordBound(file), bytes.max_size() / kRecordSize) * kRecordSize);
    } catch (const std::bad_alloc&) {
      // the file grows as it goes
    } catch (const std::length_error&) {
    }
  }
  bool Take(OutputFile file, const char* data, std::size_t size) override {
    Bytes(file).append(data, size);
    return true;
  }
  bool Keep(OutputFile) override { return true; }
  void Drop(OutputFile file) override { std::string().swap(Bytes(file)); }

 private:
  // The most records `file` can hold: each export line makes at most one, and the scouts are
  // written before the adults, so the adults take at most the lines the scouts did not.
  std::size_t RecordBound(OutputFile file) {
    if (lines_ == 0) {
      lines_ = CountExportLines(exportBytes_);
    }
    if (file == OutputFile::kAdults) {
      return lines_ - std::min(lines_, outputs_.scouts.size() / kRecordSize);
    }
    return lines_;
  }

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

  std::string_view exportBytes_;
  std::size_t lines_ = 0;  // the export's lines, counted when first needed
  MemoryOutputs& outputs_;
};

}  // namespace

bool ConvertExportBytes(std::string_view exportBytes, OutputReceiver& receiver, NoticeSink& sink,
                        MemberListener* alongside, RecordComparison* comparison) {
  ReceiverFiles files(exportBytes, receiver);
  return RunConversion(files, sink, alongside, comparison);
}

bool ConvertExportBytes(std::string_view exportBytes, MemoryOutputs& outputs, NoticeSink& sink) {
  StringReceiver receiver(exportBytes, outputs);
  const bool completed = ConvertExportBytes(exportBytes, receiver, sink);
  if (!completed) {
    std::string().swap(outputs.version);
    std::string().swap(outputs.scouts);
    std::string().swap(outputs.adults);
  }
  return completed;
}

}  // namespace ledger
