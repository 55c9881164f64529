#ifndef LEDGER_CORE_TEMP_FILES_H_
#define LEDGER_CORE_TEMP_FILES_H_

#include <csignal>
#include <string>

#ifdef _WIN32
#include <cwchar>
#endif

namespace ledger {

// The temporary files a process has made and not yet renamed or removed, in one list that an
// interruption can empty: a signal handler (POSIX), a console control handler or the end of the
// session (Windows). Adding and forgetting are for one thread; RemoveAll may run at any moment,
// in a signal handler or on another thread, and touches no memory it does not own.
class TempFileList {
 public:
  // At most this many temporary files at once; a run has one at a time.
  static constexpr int kSlots = 3;

  TempFileList() = default;
  TempFileList(const TempFileList&) = delete;
  TempFileList& operator=(const TempFileList&) = delete;

#ifdef _WIN32
  // Notes `path` (a whole wide path) before it is created; the slot, or -1 when none is free.
  int Add(const std::wstring& path);
#else
  // Notes `name`, inside the folder open as `folder`, before it is created; the slot, or -1
  // when none is free or the name does not fit one.
  int Add(int folder, const std::string& name);
#endif
  // The file of `slot` has been renamed into place or removed.
  void Forget(int slot);

  // Removes every file in the list; async-signal-safe.
  void RemoveAll();

 private:
  struct Slot {
    volatile std::sig_atomic_t used = 0;
#ifdef _WIN32
    wchar_t path[32768 + 8];
#else
    int folder = -1;
    char name[256];
#endif
  };
  Slot slots_[kSlots];
};

}  // namespace ledger

#endif  // LEDGER_CORE_TEMP_FILES_H_
