#ifndef LEDGER_CORE_REPLACED_FILE_H_
#define LEDGER_CORE_REPLACED_FILE_H_

#include <string>

#include "core/file_stream.h"
#include "core/output_sink.h"

namespace ledger {

// Told of the temporary file a replacement writes, so that a signal handler can remove it.
class TempFileListener {
 public:
  virtual ~TempFileListener() = default;
  // `path` is about to be created and will hold a partial output; must not throw.
  virtual void OnTempCreated(const std::string& path) = 0;
  // The temporary file has been renamed into place or removed; must not throw.
  virtual void OnTempGone() = 0;
};

// An output file replaced whole or not at all: the new bytes go to a temporary file beside the
// old one, which is renamed over it only once they are all written and closed. Where the output
// is not a regular file (a device, a FIFO), or no temporary file can be made in its folder, the
// output itself is written in place. Abandoned unless committed.
class ReplacedFile final : public OutputSink {
 public:
  explicit ReplacedFile(TempFileListener* listener = nullptr) : listener_(listener) {}
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;
  ~ReplacedFile() override { Abandon(); }

  // Begins a new version of `path`; false when it cannot be written, as opening it with "wb"
  // would fail. An existing output that cannot be opened for writing is never replaced.
  bool Open(const std::string& path);

  // Makes every write go straight to the file, for callers that write whole blocks.
  void DisableBuffering() { stream_.DisableBuffering(); }

  bool Write(const void* data, std::size_t size) override { return stream_.Write(data, size); }

  // Closes the new version and puts it in place; false, with the old file as it was, on failure.
  bool Commit();

  // Drops the new version: the temporary file is removed, an in-place output is closed.
  void Abandon();

 private:
  void ForgetTemp();

  TempFileListener* listener_;
  FileStream stream_;
  std::string target_;  // the file the new version replaces: the output, or its link's target
  std::string temp_;    // empty when the output is written in place
};

}  // namespace ledger

#endif  // LEDGER_CORE_REPLACED_FILE_H_
