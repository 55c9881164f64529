#ifndef LEDGER_CORE_REPLACED_FILE_H_
#define LEDGER_CORE_REPLACED_FILE_H_

#include <string>

#include "core/file_stream.h"
#include "core/notice.h"
#include "core/output_sink.h"
#include "core/temp_files.h"

namespace ledger {

// An output file replaced whole or not at all: the new bytes go to a temporary file beside the
// file it replaces (the output, or the file its link names), which is completed (given the old
// file's mode, flushed to the disk and closed), then renamed over it, then its folder flushed.
// Nothing is ever written in place: an output that is no regular file, or whose folder refuses a
// new file, is refused. Abandoned unless committed. Each failure leaves its reason in problem().
class ReplacedFile final : public OutputSink {
 public:
  // `temps`, when given, holds the temporary file's name for as long as it exists.
  explicit ReplacedFile(TempFileList* temps = nullptr) : temps_(temps) {}
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;
  ~ReplacedFile() override { Abandon(); }

  // Begins a new version of `path`; false when it cannot be made. An existing output that is no
  // regular file, or that cannot be opened for writing, or that nobody may write, is refused.
  bool Open(const std::string& path);

  // Makes every write go straight to the file, for callers that write whole blocks.
  void DisableBuffering() { stream_.DisableBuffering(); }

  bool Write(const void* data, std::size_t size) override;

  // Gives the new version the old file's mode, flushes it to the disk and closes it; false, with
  // the temporary file removed, on failure.
  bool Complete();

  // Renames the completed new version over the old file; false, with the old file as it was and
  // the temporary file removed, on failure.
  bool Commit();

  // Flushes the folder after the rename, so that the rename itself survives a power cut; false
  // when that failed. A file system that cannot flush a folder, and a folder that cannot be
  // opened for reading, are taken as they are.
  bool Settle();

  // Drops the new version: the temporary file is removed.
  void Abandon();

  // Why the last call that failed failed.
  const FileProblem& problem() const { return problem_; }

 private:
  bool Fail(FileProblem problem);
  void ForgetTemp();
  void CloseFolder();
  void RemoveTemp();

  TempFileList* temps_;
  int slot_ = -1;
  FileStream stream_;
  FileProblem problem_;
  bool keepMode_ = false;  // the new version takes mode_, the old file's
  unsigned mode_ = 0;
#ifdef _WIN32
  std::wstring target_;  // the output's wide name
  std::wstring temp_;    // the temporary file's wide name; empty when none exists
#else
  int folder_ = -1;              // the target's folder, open while a temporary file exists
  bool folderReadable_ = false;  // opened for reading, which flushing it needs
  std::string leaf_;             // the target's name in its folder
  std::string temp_;             // the temporary file's name in the folder; empty when none
#endif
};

// Finds in `target` the file that writing `path` replaces: `path`, or the file its chain of links
// ends at, which need not exist yet. False, with the reason in `problem`, when that file exists
// and is no regular file, or the links cannot be followed.
bool InspectOutput(const std::string& path, std::string& target, FileProblem& problem);

// A random part for a temporary file's name, from the system's generator: 16 hex digits.
std::string RandomNamePart();

}  // namespace ledger

#endif  // LEDGER_CORE_REPLACED_FILE_H_
