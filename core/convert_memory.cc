#include "core/convert_memory.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "core/byte_source.h"
#include "core/records.h"
#include "core/version_file.h"

namespace ledger {
namespace {

// One output's pieces, handed to the receiver as the run writes them.
class ReceiverSink final : public OutputSink {
 public:
  ReceiverSink(OutputReceiver& receiver, OutputFile file) : receiver_(receiver), file_(file) {}
  bool Write(const void* data, std::size_t size) override {
    written_ += size;
    return receiver_.Take(file_, static_cast<const char*>(data), size);
  }
  void Restart() { written_ = 0; }
  std::size_t written() const { return written_; }

 private:
  OutputReceiver& receiver_;
  OutputFile file_;
  std::size_t written_ = 0;
};

// Outputs that go to a receiver; the export is read from memory.
class ReceiverFiles final : public RunFiles {
 public:
  ReceiverFiles(std::string_view exportBytes, OutputReceiver& receiver)
      : exportBytes_(exportBytes),
        source_(exportBytes),
        receiver_(receiver),
        sinks_{ReceiverSink(receiver, OutputFile::kVersion),
               ReceiverSink(receiver, OutputFile::kScouts),
               ReceiverSink(receiver, OutputFile::kAdults)} {}

  OutputSink* Create(OutputFile file) override {
    ReceiverSink& sink = sinks_[static_cast<int>(file)];
    sink.Restart();
    receiver_.Begin(file, Bound(file));
    return &sink;
  }
  bool Commit(OutputFile file) override { return receiver_.Keep(file); }
  void Abandon(OutputFile file) override { receiver_.Drop(file); }
  ByteSource* OpenExport() override { return &source_; }
  std::string OutputName(OutputFile file) const override { return OutputFileName(file); }
  std::string ExportName() const override { return "Ledger.txt"; }

 private:
  // The most bytes `file` can grow to: each export line makes at most one record, and the scouts
  // are written before the adults, so the adults take at most the lines the scouts did not.
  std::size_t Bound(OutputFile file) {
    if (file == OutputFile::kVersion) {
      return sizeof kVersionLine1 - 1 + sizeof kVersionLine2 - 1;
    }
    if (lines_ == 0) {
      lines_ =
          static_cast<std::size_t>(std::count(exportBytes_.begin(), exportBytes_.end(), '\n')) + 1;
    }
    std::size_t records = lines_;
    if (file == OutputFile::kAdults) {
      const std::size_t scouts = sinks_[static_cast<int>(OutputFile::kScouts)].written();
      records -= std::min(records, scouts / kRecordSize);
    }
    return records > SIZE_MAX / kRecordSize ? SIZE_MAX : records * kRecordSize;
  }

  std::string_view exportBytes_;
  std::size_t lines_ = 0;  // the export's lines, counted when first needed
  MemorySource source_;
  OutputReceiver& receiver_;
  ReceiverSink sinks_[3];
};

// Appends each file to a string of `outputs`, reserved at its bound: a string that grew would be
// copied as it did, doubling the memory a large run touches.
class StringReceiver final : public OutputReceiver {
 public:
  explicit StringReceiver(MemoryOutputs& outputs) : outputs_(outputs) {}
  void Begin(OutputFile file, std::size_t bound) override {
    std::string& bytes = Bytes(file);
    bytes.clear();
    try {
      bytes.reserve(std::min(bound, bytes.max_size()));
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

  MemoryOutputs& outputs_;
};

}  // namespace

bool ConvertExportBytes(std::string_view exportBytes, OutputReceiver& receiver, NoticeSink& sink) {
  ReceiverFiles files(exportBytes, receiver);
  return RunConversion(files, sink);
}

bool ConvertExportBytes(std::string_view exportBytes, MemoryOutputs& outputs, NoticeSink& sink) {
  StringReceiver receiver(outputs);
  const bool completed = ConvertExportBytes(exportBytes, receiver, sink);
  if (!completed) {
    std::string().swap(outputs.version);
    std::string().swap(outputs.scouts);
    std::string().swap(outputs.adults);
  }
  return completed;
}

}  // namespace ledger
