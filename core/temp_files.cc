#include "core/temp_files.h"

#include <cstring>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ledger {

#ifdef _WIN32
int TempFileList::Add(const std::wstring& path) {
  if (path.size() >= sizeof slots_[0].path / sizeof(wchar_t)) {
    return -1;
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots_[i].used == 0) {
      std::wmemcpy(slots_[i].path, path.c_str(), path.size() + 1);
      slots_[i].used = 1;
      return i;
    }
  }
  return -1;
}
#else
int TempFileList::Add(int folder, const std::string& name) {
  if (name.size() >= sizeof slots_[0].name) {
    return -1;
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots_[i].used == 0) {
      slots_[i].folder = folder;
      std::memcpy(slots_[i].name, name.c_str(), name.size() + 1);
      slots_[i].used = 1;
      return i;
    }
  }
  return -1;
}
#endif

void TempFileList::Forget(int slot) {
  if (slot >= 0 && slot < kSlots) {
    slots_[slot].used = 0;
  }
}

void TempFileList::RemoveAll() {
  for (Slot& slot : slots_) {
    if (slot.used != 0) {
#ifdef _WIN32
      DeleteFileW(slot.path);
#else
      ::unlinkat(slot.folder, slot.name, 0);
#endif
      slot.used = 0;
    }
  }
}

}  // namespace ledger
