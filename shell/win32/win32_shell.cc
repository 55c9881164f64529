#include "shell/win32/win32_shell.h"

#include <commdlg.h>

#include <new>
#include <string>
#include <vector>

namespace ledger {
namespace {

// Room for a full path of the long-path limit, in ANSI bytes.
constexpr DWORD kPathBufferSize = 32768;

}  // namespace

std::optional<std::string> OpenFileChooser::ChooseExportFile() {
  std::vector<char> path(kPathBufferSize, '\0');
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = kPathBufferSize;
  // Every file is listed and the name need not exist: a missing file is reported by the run.
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameA(&ofn)) {
    return std::nullopt;  // cancelled, or the dialog failed: both leave the files alone
  }
  return std::string(path.data());
}

UINT NoticeSound(NoticeKind kind) {
  return kind == NoticeKind::kWarning ? MB_ICONEXCLAMATION : MB_OK;
}

UINT NoticeBoxFlags(NoticeKind kind) {
  return MB_OK | (kind == NoticeKind::kWarning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION);
}

void MessageBoxSink::Show(const Notice& notice) {
  MessageBeep(NoticeSound(notice.kind()));
  // The message, then why and what the run replaced; without memory for that, the message alone.
  std::string whole;
  try {
    whole = DialogTextOf(notice);
  } catch (const std::bad_alloc&) {
    whole.clear();
  }
  MessageBoxA(owner_ != nullptr ? owner_ : GetActiveWindow(),
              whole.empty() ? notice.message().data() : whole.c_str(), notice.caption().data(),
              NoticeBoxFlags(notice.kind()));
}

}  // namespace ledger
