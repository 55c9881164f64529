#ifndef LEDGER_CORE_REPLACED_FILE_H_
#define LEDGER_CORE_REPLACED_FILE_H_

#include <string>

#include "core/file_stream.h"
#include "core/output_sink.h"
#include "core/temp_files.h"

namespace ledger {

// An output file replaced whole or not at all: the new bytes go to a temporary file beside the
// old one, which is flushed to the disk and renamed over it only once they are all written. An
// output that is not a regular file (a device, a FIFO) is written in place, and so is an existing
// output whose folder refuses new files for lack of permission; any other failure to make the
// temporary file refuses the output. Abandoned unless committed.
class ReplacedFile final : public OutputSink {
 public:
  // `temps`, when given, holds the temporary file's name for as long as it exists.
  explicit ReplacedFile(TempFileList* temps = nullptr) : temps_(temps) {}
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;
  ~ReplacedFile() override { Abandon(); }

  // Begins a new version of `path`; false when it cannot be written. An existing output that
  // cannot be opened for writing, or that nobody may write, is never replaced.
  bool Open(const std::string& path);

  // Makes every write go straight to the file, for callers that write whole blocks.
  void DisableBuffering() { stream_.DisableBuffering(); }

  bool Write(const void* data, std::size_t size) override { return stream_.Write(data, size); }

  // Flushes the new version to the disk and puts it in place; false, with the old file as it
  // was, on failure.
  bool Commit();

  // Drops the new version: the temporary file is removed, an in-place output is closed.
  void Abandon();

 private:
  bool OpenInPlace();
  void ForgetTemp();
  void CloseFolder();

  TempFileList* temps_;
  int slot_ = -1;
  FileStream stream_;
#ifdef _WIN32
  std::wstring target_;  // the output's wide name
  std::wstring temp_;    // the temporary file's wide name; empty when written in place
#else
  std::string target_;  // the file the new version replaces: the output, or its link's target
  int folder_ = -1;     // the target's folder, open while a temporary file exists
  std::string leaf_;    // the target's name in its folder
  std::string temp_;    // the temporary file's name in the folder; empty when written in place
#endif
};

}  // namespace ledger

#endif  // LEDGER_CORE_REPLACED_FILE_H_
