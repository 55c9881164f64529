// Drops files onto the Windows dialog from inside its own process, since a drop handle is valid
// only in the process that made it: builds each HDROP as the shell does (a GlobalAlloc'd
// DROPFILES with wide names), posts it to the dialog as WM_DROPFILES and reads the message box
// that follows.
//
// Usage: dialog_drop_test WORK_DIR
// WORK_DIR gets a folder named "Łódź" holding the export.

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/notice.h"
#include "shell/win32/convert_app.h"
#include "tests/win32/check_line.h"
#include "tests/win32/wide_files.h"

namespace {

constexpr DWORD kTimeoutMs = 20000;
constexpr int kMessageText = 0xFFFF;

using ledger::testing::Check;

// The application object the dialog's icon loading needs; the test runs the dialog itself.
class DropTestApp : public CWinApp {
 public:
  BOOL InitInstance() override { return FALSE; }
};

DropTestApp theApp;

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; *text != '\0'; ++text) {
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  }
  return wide;
}

// The file's bytes, or "<missing>" when it cannot be read.
std::string FileBytes(const std::wstring& path) {
  std::string bytes;
  return ledger::testing::ReadFileBytes(path, bytes) ? bytes : "<missing>";
}

// An HDROP naming `paths`, as the shell hands one to a window.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;  // the list's final terminator
  for (const std::wstring& path : paths) {
    chars += path.size() + 1;
  }
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(files + 1);
  for (const std::wstring& path : paths) {
    out = std::copy(path.begin(), path.end(), out);
    *out++ = L'\0';
  }
  *out = L'\0';
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

template <typename Ready>
bool WaitFor(Ready ready) {
  const DWORD start = GetTickCount();
  while (!ready()) {
    if (GetTickCount() - start > kTimeoutMs) {
      return false;
    }
    Sleep(50);
  }
  return true;
}

struct Search {
  HWND exclude;
  const char* caption;  // null for any
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam) {
  auto* s = reinterpret_cast<Search*>(lParam);
  char name[32] = "";
  GetClassNameA(hwnd, name, sizeof name);
  char caption[256] = "";
  GetWindowTextA(hwnd, caption, sizeof caption);
  const bool wanted = s->caption == nullptr ? GetDlgItem(hwnd, kMessageText) != nullptr
                                            : std::string(caption) == s->caption;
  if (hwnd != s->exclude && IsWindowVisible(hwnd) && std::string(name) == "#32770" && wanted) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A visible dialog-class window of `thread` other than `exclude`: the one with `caption`, or,
// without one, a message box, known by its text's id 0xFFFF. (The dialog's own texts are
// IDC_STATIC, which an extended template stores as -1 in 32 bits, so Wine finds no 0xFFFF there.)
HWND FindThreadWindow(DWORD thread, HWND exclude, const char* caption) {
  Search search{exclude, caption, nullptr};
  EnumThreadWindows(thread, &MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string TextOf(HWND hwnd) {
  char text[512] = "";
  GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

struct Work {
  DWORD dialogThread;
  std::wstring dir;
  std::wstring exportPath;
};

// Drops `paths` onto `dialog`, checks the message box that follows and presses its OK.
void DropAndCheck(const Work& work, HWND dialog, const std::vector<std::wstring>& paths,
                  const char* caption, const char* text) {
  PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindThreadWindow(work.dialogThread, dialog, nullptr)) != nullptr; });
  if (!Check(box != nullptr, "a drop of %u files shows a message box",
             static_cast<unsigned>(paths.size()))) {
    return;
  }
  Sleep(200);
  const std::string shownCaption = TextOf(box);
  const std::string shownText = TextOf(GetDlgItem(box, kMessageText));
  Check(shownCaption == caption, "message box caption \"%s\"", shownCaption.c_str());
  Check(shownText == text, "message box text \"%s\"", shownText.c_str());
  Check(GetWindow(box, GW_OWNER) == dialog, "the message box is owned by the dialog");
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  Check(WaitFor([&] { return !IsWindow(box); }), "the message box closes on OK");
}

// Names a window of the dialog's thread and closes it, so that a failed run ends.
BOOL CALLBACK ListAndClose(HWND hwnd, LPARAM) {
  char name[64] = "";
  GetClassNameA(hwnd, name, sizeof name);
  std::printf("#    window \"%s\" of class %s, %s\n", TextOf(hwnd).c_str(), name,
              IsWindowVisible(hwnd) ? "visible" : "hidden");
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  return TRUE;
}

DWORD WINAPI Drive(void* parameter) {
  const Work& work = *static_cast<const Work*>(parameter);
  HWND dialog = nullptr;
  WaitFor([&] {
    return (dialog = FindThreadWindow(work.dialogThread, nullptr, "Convert Ledger Export")) !=
           nullptr;
  });
  if (!Check(dialog != nullptr, "the dialog shows")) {
    EnumThreadWindows(work.dialogThread, &ListAndClose, 0);
    return 1;
  }
  Sleep(300);
  DropAndCheck(work, dialog, {work.exportPath, work.dir + L"\\Other.txt"},
               ledger::CaptionOf(ledger::NoticeCode::kDropOneFile),
               ledger::SentenceOf(ledger::NoticeCode::kDropOneFile));
  Sleep(300);
  Check(IsWindow(dialog) && IsWindowEnabled(dialog), "after two dropped files the dialog stays");
  Check(GetFileAttributesW((work.dir + L"\\PVERSION.DAT").c_str()) == INVALID_FILE_ATTRIBUTES,
        "two dropped files convert none");
  DropAndCheck(work, dialog, {work.exportPath}, ledger::CaptionOf(ledger::NoticeCode::kConverted),
               ledger::SentenceOf(ledger::NoticeCode::kConverted));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_drop_test WORK_DIR\n");
    return 2;
  }
  std::wstring root = Widen(argv[1]);
  if (!root.empty() && root[0] == L'/') {
    root = L"Z:" + root;
  }
  for (wchar_t& c : root) {
    c = c == L'/' ? L'\\' : c;
  }
  CreateDirectoryW(root.c_str(), nullptr);
  Work work{GetCurrentThreadId(), root + L"\\\u0141\u00F3d\u017A", L""};
  work.exportPath = work.dir + L"\\Ledger.txt";
  CreateDirectoryW(work.dir.c_str(), nullptr);
  for (const wchar_t* name : {L"PVERSION.DAT", L"CPERW.DAT", L"APERW.DAT"}) {
    DeleteFileW((work.dir + L"\\" + name).c_str());
  }
  const std::string exportBytes = "LedgerExport\r\nS-1\tAlder\r\nAdults\r\nA-1\tBrennan\r\n";
  if (!Check(ledger::testing::WriteFileBytes(work.exportPath, exportBytes),
             "the export is written")) {
    return 1;
  }
  Check(GetACP() == CP_UTF8, "the manifest makes UTF-8 the ANSI code page (it is %u)", GetACP());

  HANDLE driver = CreateThread(nullptr, 0, &Drive, &work, 0, nullptr);
  CConvertDlg dialog;
  theApp.m_pMainWnd = &dialog;
  const INT_PTR ended = dialog.DoModal();
  theApp.m_pMainWnd = nullptr;
  Check(ended == IDOK, "after the dropped export was converted the dialog ends (%ld)",
        static_cast<long>(ended));
  WaitForSingleObject(driver, kTimeoutMs);
  CloseHandle(driver);

  Check(FileBytes(work.dir + L"\\PVERSION.DAT") == "KZV 2.0\r\nDRUV\r\n",
        "PVERSION.DAT beside the dropped export holds the version lines");
  const std::string scout = FileBytes(work.dir + L"\\CPERW.DAT");
  Check(scout.size() == 512 && scout.compare(0, 4, std::string("S-1\0", 4)) == 0 &&
            scout.compare(16, 6, std::string("Alder\0", 6)) == 0,
        "CPERW.DAT holds the scout's record (%u bytes)", static_cast<unsigned>(scout.size()));
  const std::string adult = FileBytes(work.dir + L"\\APERW.DAT");
  Check(adult.size() == 512 && adult.compare(16, 8, std::string("Brennan\0", 8)) == 0,
        "APERW.DAT holds the adult's record (%u bytes)", static_cast<unsigned>(adult.size()));
  Check(FileBytes(work.exportPath) == exportBytes, "the export is unchanged");
  return ledger::testing::Summary();
}
