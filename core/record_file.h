#ifndef LEDGER_CORE_RECORD_FILE_H_
#define LEDGER_CORE_RECORD_FILE_H_

#include <cstddef>
#include <string>

#include "core/notice.h"
#include "core/paths.h"
#include "core/record_compare.h"

namespace ledger {

// An earlier record file on the disk, read at any offset without a file position of its own.
class RecordFile final : public RecordSource {
 public:
  enum class Opened { kOpened, kMissing, kFailed };

  RecordFile() = default;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  ~RecordFile() override;

  // Opens the regular file at `path` for reading: kMissing when there is no such file, kFailed
  // when it cannot be opened or is no regular file. On Windows the name goes through the wide
  // calls, and the file stays open to being replaced or removed while it is read.
  Opened Open(const std::string& path);

  unsigned long long Size() const override { return opened_.size; }
  bool ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) override;
  bool Changed() const override;
  void Done() override { Close(); }

  // Why the file could not be opened or read, where known: none for a size that is no whole
  // number of records.
  const FileProblem& problem() const { return problem_; }

 private:
  struct Stamp {
    unsigned long long size = 0;
    long long modified = 0;
    long long modifiedPart = 0;  // below the second, where the system keeps it
  };
  bool ReadStamp(Stamp& stamp) const;
  void Close();

#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE; null when closed
#else
  int fd_ = -1;
#endif
  Stamp opened_;
  mutable FileProblem problem_;  // Changed() notes a change here
};

// Compares what converting the export at `exportPath` would write with the CPERW.DAT and
// APERW.DAT beside it (named as `style` spells the outputs' paths), writing nothing:
// `comparison` is loaded with them and told of one walk of the export. A missing record file is
// an empty one. Returns true once both sections were compared; otherwise false, after one notice
// to `sink`: the conversion's own for an export it cannot open or read, or that is no export,
// and "Unable to read file" naming a record file that cannot be read as records.
bool CompareExportFile(const std::string& exportPath, const PathStyle& style,
                       RecordComparison& comparison, NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_CORE_RECORD_FILE_H_
