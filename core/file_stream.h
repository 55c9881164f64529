#ifndef LEDGER_CORE_FILE_STREAM_H_
#define LEDGER_CORE_FILE_STREAM_H_

#include <cstddef>
#include <cstdio>
#include <string>

namespace ledger {

// An open C stream that is closed when it goes out of scope.
class FileStream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  ~FileStream();

  // Opens `path` in binary `mode` ("rb" or "wb"); false when it cannot be opened. On Windows the
  // name goes through the wide calls, so that folders past MAX_PATH are reached.
  bool Open(const std::string& path, const char* mode);

  // Takes ownership of the already open `file`; false when it is null.
  bool Adopt(std::FILE* file) {
    file_ = file;
    return file_ != nullptr;
  }

  bool IsOpen() const { return file_ != nullptr; }

  // Makes every write go straight to the file, for callers that write whole blocks.
  void DisableBuffering();

  // Writes `size` bytes as one item; false when the item did not go out or the stream is in error.
  bool Write(const void* data, std::size_t size);

  // Hands the buffered bytes to the file and asks the system to put them on the disk; false when
  // either failed. A file system that cannot flush a file to disk is taken at its word.
  bool Sync();

  // Flushes and closes; false when the last buffered bytes could not be handed to the file.
  bool Close();

  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace ledger

#endif  // LEDGER_CORE_FILE_STREAM_H_
