// Works LedgerConvert.exe as a user would, through its windows: finds the dialog by its caption,
// reads its controls, presses its buttons and keys, types into the open dialog's file name box
// and reads the message boxes, then checks what the program wrote.
//
// Usage: dialog_driver PROGRAM.exe WORK_DIR [SHOT_DIR]
// WORK_DIR is emptied and used for the exports; with SHOT_DIR, the driver asks for screenshots
// of the dialog and of a message box (see run-dialog-test).

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/win32/check_line.h"
#include "tests/win32/wide_files.h"

namespace {

using ledger::testing::Exists;
using ledger::testing::ReadFileBytes;
using ledger::testing::WriteFileBytes;

constexpr DWORD kTimeoutMs = 20000;
constexpr char kDialogCaption[] = "Convert Ledger Export";
constexpr char kNoticeCaption[] = "Convert Ledger Files";
constexpr char kSuccessText[] =
    "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
    "import your data.";
constexpr char kInvalidText[] =
    "Invalid file format.\n\nPlease re-export your data from Vantorel and try again.";
constexpr char kIntroText[] =
    "This utility will allow you to convert the Ledger export file from the new Vantorel Web 2.0 "
    "into the proper format for import into your Keldmarsh program.";
constexpr char kBeforeText[] =
    "Before running this conversion, you should first run the File>Export>Keldmarsh function in "
    "your Vantorel Web 2.0 program to create the 'Ledger.txt' export file.";

// Control ids of the system's dialogs: the open dialog's file name box, and a message box's
// text and icon.
constexpr int kFileNameBox = 0x47c;
constexpr int kFileTypeBox = 0x470;
constexpr int kMessageText = 0xFFFF;
constexpr int kMessageIcon = 0x440;

using ledger::testing::Check;

void Note(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf("# ");
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
}

// C-style escapes for texts that hold line feeds.
std::string Show(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string DosPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
  }
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  while (path.size() > 3 && path.back() == '\\') {
    path.pop_back();
  }
  return path;
}

// Polls `ready` until it is true or the timeout passes.
template <typename Ready>
bool WaitFor(Ready ready, DWORD timeoutMs = kTimeoutMs) {
  const DWORD start = GetTickCount();
  while (!ready()) {
    if (GetTickCount() - start > timeoutMs) {
      return false;
    }
    Sleep(50);
  }
  return true;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// A window's text; WM_GETTEXT works across processes where the text lives in the control.
std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return "<no answer>";
  }
  std::vector<char> text(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  return std::string(text.data());
}

std::vector<HWND> ChildrenOf(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

HWND FindDescendantOfClass(HWND parent, const char* className) {
  for (HWND child : ChildrenOf(parent)) {
    if (ClassOf(child) == className) {
      return child;
    }
    if (HWND found = FindDescendantOfClass(child, className)) {
      return found;
    }
  }
  return nullptr;
}

struct WindowQuery {
  DWORD pid;
  const char* caption;
  HWND exclude;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam) {
  auto* query = reinterpret_cast<WindowQuery*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char caption[512] = "";
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (pid == query->pid && hwnd != query->exclude && IsWindowVisible(hwnd) &&
      ClassOf(hwnd) == "#32770" && std::strcmp(caption, query->caption) == 0) {
    query->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The visible dialog-class window of process `pid` with exactly `caption`, once it shows.
HWND WaitForDialog(DWORD pid, const char* caption, HWND exclude = nullptr) {
  WindowQuery query{pid, caption, exclude, nullptr};
  WaitFor([&] {
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&query));
    return query.found != nullptr;
  });
  return query.found;
}

BOOL CALLBACK MatchMessageBox(HWND hwnd, LPARAM lParam) {
  auto* query = reinterpret_cast<WindowQuery*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == query->pid && hwnd != query->exclude && IsWindowVisible(hwnd) &&
      GetDlgItem(hwnd, kMessageText) != nullptr) {
    query->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Any message box of the process: a window, other than `exclude`, with a message box's text.
HWND FindMessageBox(DWORD pid, HWND exclude) {
  WindowQuery query{pid, nullptr, exclude, nullptr};
  EnumWindows(&MatchMessageBox, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

// Presses a button the way a click does, without waiting for what the click starts.
void Press(HWND button) {
  PostMessageA(button, BM_CLICK, 0, 0);
}

// Clicks the mouse on the close box at the right end of `window`'s caption; false when no point
// of the caption's right end is the close box or the cursor could not be put there.
bool ClickCloseBox(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int y = r.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  int x = r.right - 1;
  while (x > r.right - 60 && SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) {
    --x;
  }
  x -= GetSystemMetrics(SM_CXSIZE) / 3;  // inside the button, not on its edge
  if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) {
    return false;
  }
  // Every event carries the position: the display's own pointer may move the cursor between
  // a SetCursorPos and the click.
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  auto send = [&](DWORD button) {
    INPUT event = {};
    event.type = INPUT_MOUSE;
    event.mi.dx = MulDiv(x, 65535, width - 1);
    event.mi.dy = MulDiv(y, 65535, height - 1);
    event.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
    SendInput(1, &event, sizeof event);
    Sleep(100);
  };
  const bool placed = WaitFor(
      [&] {
        send(0);
        POINT at;
        return GetCursorPos(&at) && at.x == x && at.y == y;
      },
      5000);
  send(MOUSEEVENTF_LEFTDOWN);
  send(MOUSEEVENTF_LEFTUP);
  return placed;
}

void PressKey(HWND target, UINT key) {
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
}

HWND FocusOf(DWORD threadId) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

// Converts dialog units to pixels with a hidden dialog of the driver's own that uses the same
// font as the program's dialog; MapDialogRect does not work on another process's windows.
class DialogUnits {
 public:
  DialogUnits() {
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) {
      t.push_back(LOWORD(v));
      t.push_back(HIWORD(v));
    };
    auto text = [&t](const wchar_t* s) {
      do {
        t.push_back(static_cast<WORD>(*s));
      } while (*s++ != L'\0');
    };
    t.push_back(1);       // dlgVer
    t.push_back(0xFFFF);  // signature: an extended template
    dword(0);             // help id
    dword(0);             // extended style
    dword(WS_POPUP | DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU);
    t.push_back(0);  // no controls
    for (int v : {0, 0, 204, 105}) {
      t.push_back(static_cast<WORD>(v));
    }
    t.push_back(0);  // no menu
    t.push_back(0);  // the standard dialog class
    t.push_back(0);  // no caption
    t.push_back(8);  // point size
    t.push_back(FW_NORMAL);
    t.push_back(0x0100);  // not italic; DEFAULT_CHARSET
    text(L"MS Sans Serif");
    hwnd_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                       reinterpret_cast<const DLGTEMPLATE*>(t.data()), nullptr,
                                       &DialogUnits::Ignore, 0);
  }
  ~DialogUnits() {
    if (hwnd_ != nullptr) {
      DestroyWindow(hwnd_);
    }
  }
  bool valid() const { return hwnd_ != nullptr; }

  // The pixels of a template rectangle; as in dialog creation, the position and the size are
  // each converted and rounded on their own.
  RECT Map(int x, int y, int cx, int cy) const {
    RECT at = {x, y, x, y};
    MapDialogRect(hwnd_, &at);
    RECT size = {0, 0, cx, cy};
    MapDialogRect(hwnd_, &size);
    return RECT{at.left, at.top, at.left + size.right, at.top + size.bottom};
  }

 private:
  static INT_PTR CALLBACK Ignore(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
  HWND hwnd_ = nullptr;
};

std::string Describe(const RECT& r) {
  char text[96];
  std::snprintf(text, sizeof text, "(%ld,%ld %ldx%ld)", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  return text;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A child's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND child, HWND dialog) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Files and their bytes.
bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return false;
  }
  bytes.clear();
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    bytes.append(buffer, n);
  }
  std::fclose(f);
  return true;
}

// Every file of a directory with its bytes and time of last write.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return files;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    std::string bytes;
    ReadFileBytes(dir + "\\" + found.cFileName, bytes);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%08lx%08lx|", found.ftLastWriteTime.dwHighDateTime,
                  found.ftLastWriteTime.dwLowDateTime);
    files[found.cFileName] = stamp + bytes;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

void EmptyDirectory(const std::string& dir) {
  for (const auto& file : Snapshot(dir)) {
    DeleteFileA((dir + "\\" + file.first).c_str());
  }
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One run of the program.
class Program {
 public:
  Program(const std::string& exe, const std::string& dir) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    started_ = CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                              dir.c_str(), &startup, &info_) != FALSE;
  }
  ~Program() {
    if (started_) {
      if (Running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
      }
      CloseHandle(info_.hThread);
      CloseHandle(info_.hProcess);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return started_; }
  DWORD pid() const { return info_.dwProcessId; }
  DWORD thread() const { return info_.dwThreadId; }
  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
  // Waits until the program waits for input, and a little more for its windows to settle.
  void WaitIdle() const {
    WaitForInputIdle(info_.hProcess, kTimeoutMs);
    Sleep(300);
  }
  // Waits for the process to end; true when it did, with its exit code in `code`.
  bool WaitExit(DWORD& code) const {
    if (WaitForSingleObject(info_.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
      return false;
    }
    GetExitCodeProcess(info_.hProcess, &code);
    return true;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION info_ = {};
};

// Asks the test script for a screenshot of `hwnd` and waits until it has been taken.
void Screenshot(const std::string& shotDir, const char* name, HWND hwnd) {
  if (shotDir.empty()) {
    return;
  }
  Sleep(500);  // let the window finish painting
  RECT r;
  GetWindowRect(hwnd, &r);
  const std::string base = shotDir + "\\" + name;
  char rect[96];
  std::snprintf(rect, sizeof rect, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  WriteFileBytes(base + ".part", rect);
  MoveFileA((base + ".part").c_str(), (base + ".rect").c_str());
  if (!WaitFor([&] { return Exists(base + ".done") || Exists(base + ".blank"); }, 20000)) {
    Note("no screenshot of %s was taken", name);
    return;
  }
  Check(!Exists(base + ".blank"), "the screenshot of %s is not an image of one colour", name);
}

struct Expected {
  LONG id;
  const char* className;
  DWORD style;
  int x, y, cx, cy;
  const char* text;
};

// The dialog's controls in template order, which is also the order of the child windows.
const Expected kControls[] = {
    {IDOK, "Button", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 35, 83, 50, 14, "OK"},
    {IDCANCEL, "Button", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 119, 83, 50, 14,
     "Cancel"},
    {-1, "Static", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 12, 43, 178, 24, kBeforeText},
    {-1, "Static", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 13, 10, 178, 24, kIntroText},
};

// The bytes of resource `name` of type `type` in `module`, empty when it is missing.
std::string ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceA(module, name, type);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    return std::string();
  }
  return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

// Reads the little-endian fields of a resource one after another.
class ResourceReader {
 public:
  explicit ResourceReader(const std::string& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  WORD Word() {
    if (pos_ + 2 > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    const WORD v = static_cast<WORD>(static_cast<unsigned char>(bytes_[pos_]) |
                                     static_cast<unsigned char>(bytes_[pos_ + 1]) << 8);
    pos_ += 2;
    return v;
  }
  DWORD Dword() {
    const DWORD low = Word();
    return low | static_cast<DWORD>(Word()) << 16;
  }
  // A UTF-16 string of ASCII characters, as the resource compiler stores texts.
  std::string Text() {
    std::string text;
    for (WORD c = Word(); ok_ && c != 0; c = Word()) {
      text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return text;
  }
  // A name or ordinal: the ordinal (0 for none), or -1 with the name in `name`.
  long NameOrOrdinal(std::string& name) {
    const WORD first = Word();
    if (first == 0xFFFF) {
      return Word();
    }
    if (first == 0) {
      return 0;  // none
    }
    pos_ -= 2;
    name = Text();
    return -1;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t n) { pos_ += n; }

 private:
  const std::string& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Dialog template 102 as the resource script gives it: an extended template with the caption,
// font, placement, styles and the controls in their order.
void CheckDialogTemplate(HMODULE module) {
  const std::string bytes = ResourceBytes(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(102));
  if (!Check(!bytes.empty(), "dialog template 102 exists")) {
    return;
  }
  ResourceReader r(bytes);
  const WORD version = r.Word();
  const WORD signature = r.Word();
  Check(version == 1 && signature == 0xFFFF, "dialog 102 is an extended template");
  r.Dword();  // help id
  const DWORD exStyle = r.Dword();
  const DWORD style = r.Dword();
  const WORD count = r.Word();
  const short x = static_cast<short>(r.Word()), y = static_cast<short>(r.Word());
  const short cx = static_cast<short>(r.Word()), cy = static_cast<short>(r.Word());
  Check(style == (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT),
        "dialog 102 style 0x%08lx", style);
  Check(exStyle == WS_EX_APPWINDOW, "dialog 102 extended style 0x%08lx", exStyle);
  Check(x == 0 && y == 0 && cx == 204 && cy == 105, "dialog 102 at %d,%d size %d x %d", x, y, cx,
        cy);
  std::string menu, windowClass;
  Check(r.NameOrOrdinal(menu) == 0 && r.NameOrOrdinal(windowClass) == 0,
        "dialog 102 has no menu and the standard class");
  const std::string caption = r.Text();
  Check(caption == kDialogCaption, "dialog 102 caption \"%s\"", caption.c_str());
  const WORD points = r.Word();
  r.Word();  // weight
  r.Word();  // italic, character set
  const std::string face = r.Text();
  Check(points == 8 && face == "MS Sans Serif", "dialog 102 font %u point \"%s\"", points,
        face.c_str());
  if (!Check(count == 4, "dialog 102 has %u controls", count)) {
    return;
  }
  const WORD kButton = 0x80, kStatic = 0x82;
  const WORD classes[] = {kButton, kButton, kStatic, kStatic};
  for (int i = 0; i < 4; ++i) {
    const Expected& e = kControls[i];
    r.AlignDword();
    r.Dword();  // help id
    const DWORD itemExStyle = r.Dword();
    const DWORD itemStyle = r.Dword();
    const short ix = static_cast<short>(r.Word()), iy = static_cast<short>(r.Word());
    const short icx = static_cast<short>(r.Word()), icy = static_cast<short>(r.Word());
    const LONG id = static_cast<LONG>(r.Dword());
    std::string className, title;
    const long atom = r.NameOrOrdinal(className);
    r.NameOrOrdinal(title);
    const WORD extra = r.Word();
    r.Skip(extra);
    Check(r.ok() && id == e.id && atom == classes[i] && itemStyle == e.style && itemExStyle == 0 &&
              ix == e.x && iy == e.y && icx == e.cx && icy == e.cy && title == e.text,
          "dialog 102 control %d: id %ld, class 0x%lx, style 0x%08lx, %d,%d %dx%d, \"%s\"", i, id,
          atom, itemStyle, ix, iy, icx, icy, title.c_str());
  }
}

// The entries both programs' manifests must hold, each an exact piece of the XML.
const char* const kManifestEntries[] = {
    "<requestedExecutionLevel level=\"asInvoker\"",
    "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // Windows 7
    "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // Windows 8
    "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // Windows 8.1
    "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // Windows 10 and 11
    "WindowsSettings\">true</longPathAware>",
    "WindowsSettings\">true/pm</dpiAware>",
    "WindowsSettings\">PerMonitorV2, system</dpiAwareness>",
    "SMI/2019/WindowsSettings\">UTF-8</activeCodePage>",
};

// Reads the manifest back from the built program `exe` and checks its entries and version.
void CheckManifest(const std::string& exe) {
  const std::string name = exe.substr(exe.rfind('\\') + 1);
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!Check(module != nullptr, "%s: the resources can be read", name.c_str())) {
    return;
  }
  const std::string manifest = ResourceBytes(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  FreeLibrary(module);
  Check(!manifest.empty(), "%s has a manifest", name.c_str());
  for (const char* entry : kManifestEntries) {
    Check(manifest.find(entry) != std::string::npos, "%s's manifest holds %s", name.c_str(), entry);
  }
  Check(manifest.find(" version=\"" LEDGER_VERSION "\" processorArchitecture=\"x86\"") !=
            std::string::npos,
        "%s's manifest has the program's version", name.c_str());
}

void CheckVersionBlock(const std::string& exe);

// Icon group 128 with a 32 x 32 and a 16 x 16 image of 16 colours, then 48 x 48 and 256 x 256
// images of 32 bits; the version block; the manifest.
void CheckResources(const std::string& exe) {
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!Check(module != nullptr, "the program's resources can be read")) {
    return;
  }
  CheckDialogTemplate(module);

  const std::string group = ResourceBytes(module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(128));
  ResourceReader icons(group);
  icons.Word();
  const WORD type = icons.Word();
  const WORD images = icons.Word();
  std::vector<std::string> found;
  for (WORD i = 0; i < images && icons.ok(); ++i) {
    const WORD size = icons.Word();  // width, height
    const WORD colours = icons.Word() & 0xFF;
    icons.Word();  // planes
    const WORD bits = icons.Word();
    icons.Dword();
    icons.Word();
    char text[64];
    std::snprintf(text, sizeof text, "%ux%u/%u colours/%u bits", size & 0xFF, size >> 8, colours,
                  bits);
    found.push_back(text);
  }
  const std::vector<std::string> expectedIcons = {
      "32x32/16 colours/4 bits", "16x16/16 colours/4 bits", "48x48/0 colours/32 bits",
      "0x0/0 colours/32 bits"};
  std::string listed;
  for (const std::string& image : found) {
    listed += " " + image;
  }
  Check(icons.ok() && type == 1 && found == expectedIcons, "icon group 128 holds%s",
        listed.c_str());

  const std::string manifest = ResourceBytes(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  Check(manifest.find("Microsoft.Windows.Common-Controls") != std::string::npos &&
            manifest.find("version=\"6.0.0.0\"") != std::string::npos,
        "the manifest names Common Controls version 6.0.0.0");
  FreeLibrary(module);
  CheckManifest(exe);

  CheckVersionBlock(exe);
}

// The version block of `exe`: the project's version, U.S. English, a product name and description.
void CheckVersionBlock(const std::string& exe) {
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(exe.c_str(), &ignored));
  if (!Check(!info.empty() && GetFileVersionInfoA(exe.c_str(), 0, info.size(), info.data()),
             "the program has a version resource")) {
    return;
  }
  void* value = nullptr;
  UINT length = 0;
  const auto* fixed = VerQueryValueA(info.data(), "\\", &value, &length)
                          ? static_cast<const VS_FIXEDFILEINFO*>(value)
                          : nullptr;
  const DWORD versionMS = (LEDGER_VERSION_MAJOR << 16) | LEDGER_VERSION_MINOR;
  const DWORD versionLS = (LEDGER_VERSION_PATCH << 16) | LEDGER_VERSION_TWEAK;
  Check(fixed != nullptr && fixed->dwFileVersionMS == versionMS &&
            fixed->dwFileVersionLS == versionLS && fixed->dwProductVersionMS == versionMS &&
            fixed->dwProductVersionLS == versionLS,
        "file and product version are " LEDGER_VERSION);
  const auto* translation =
      VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4
          ? static_cast<const WORD*>(value)
          : nullptr;
  Check(translation != nullptr && translation[0] == 0x0409 && translation[1] == 0x04B0,
        "the version block is U.S. English with Unicode strings");
  for (const char* key : {"ProductName", "FileDescription"}) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    const bool has = VerQueryValueA(info.data(), path.c_str(), &value, &length) && length > 1;
    Check(has, "the version block names the %s \"%s\"", key,
          has ? static_cast<const char*>(value) : "");
  }
}

// Whether the program's icon 128, drawn at the small icon size as a caption shows it, appears
// in the top left corner of `window`: the window icon is not readable across processes.
bool CaptionShowsIcon(HWND window, const std::string& exe) {
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    return false;
  }
  const int size = GetSystemMetrics(SM_CXSMICON);
  RECT r;
  GetWindowRect(window, &r);
  const int w = 3 * size, h = GetSystemMetrics(SM_CYCAPTION) + 2 * size;
  HDC screen = GetDC(nullptr);
  HDC shown = CreateCompatibleDC(screen);
  HDC onBlack = CreateCompatibleDC(screen);
  HDC onWhite = CreateCompatibleDC(screen);
  HBITMAP bitmaps[] = {CreateCompatibleBitmap(screen, w, h),
                       CreateCompatibleBitmap(screen, size, size),
                       CreateCompatibleBitmap(screen, size, size)};
  HGDIOBJ old[] = {SelectObject(shown, bitmaps[0]), SelectObject(onBlack, bitmaps[1]),
                   SelectObject(onWhite, bitmaps[2])};
  BitBlt(shown, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);

  bool found = false;
  // The window's icon is the 32 x 32 image, which the caption shrinks; also accept the 16 x 16
  // image, should the system pick that one.
  for (int loaded : {32, 16}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(128), IMAGE_ICON, loaded, loaded, 0));
    if (icon == nullptr) {
      continue;
    }
    RECT all = {0, 0, size, size};
    FillRect(onBlack, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    FillRect(onWhite, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(onBlack, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    DrawIconEx(onWhite, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
    for (int oy = 0; oy + size <= h && !found; ++oy) {
      for (int ox = 0; ox + size <= w && !found; ++ox) {
        int opaque = 0, differing = 0;
        for (int y = 0; y < size; ++y) {
          for (int x = 0; x < size; ++x) {
            const COLORREF c = GetPixel(onBlack, x, y);
            if (c != GetPixel(onWhite, x, y)) {
              continue;  // transparent here
            }
            ++opaque;
            differing += GetPixel(shown, ox + x, oy + y) != c ? 1 : 0;
          }
        }
        found = opaque > size * size / 4 && differing * 20 < opaque;
      }
    }
  }
  for (int i = 0; i < 3; ++i) {
    SelectObject(i == 0 ? shown : i == 1 ? onBlack : onWhite, old[i]);
    DeleteObject(bitmaps[i]);
  }
  DeleteDC(shown);
  DeleteDC(onBlack);
  DeleteDC(onWhite);
  ReleaseDC(nullptr, screen);
  FreeLibrary(module);
  return found;
}

void CheckLayout(HWND dialog, const Program& program, const DialogUnits& units,
                 const std::string& exe) {
  char caption[256] = "";
  GetWindowTextA(dialog, caption, sizeof caption);
  Check(std::strcmp(caption, kDialogCaption) == 0, "dialog caption is \"%s\"", caption);

  const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
  const DWORD expectedStyle =
      WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  // The system adds the 3-D look to every dialog, and sibling clipping to top-level windows.
  Check((style & ~(WS_CLIPSIBLINGS | DS_3DLOOK)) == expectedStyle,
        "dialog style 0x%08lx (expected 0x%08lx)", style, expectedStyle);
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
  Check((exStyle & WS_EX_APPWINDOW) != 0 && (exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST)) == 0,
        "dialog extended style 0x%08lx has WS_EX_APPWINDOW", exStyle);

  RECT client;
  GetClientRect(dialog, &client);
  const RECT size = units.Map(0, 0, 204, 105);
  Check(SameRect(client, size), "dialog client area %s is 204 x 105 units %s",
        Describe(client).c_str(), Describe(size).c_str());

  RECT window, area;
  GetWindowRect(dialog, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  const LONG dx = (window.left + window.right) - (area.left + area.right);
  const LONG dy = (window.top + window.bottom) - (area.top + area.bottom);
  Check(dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2, "dialog %s is centred in the work area %s",
        Describe(window).c_str(), Describe(area).c_str());

  const std::vector<HWND> children = ChildrenOf(dialog);
  Check(children.size() == 4, "dialog has %u controls", static_cast<unsigned>(children.size()));
  for (std::size_t i = 0; i < children.size() && i < 4; ++i) {
    const Expected& e = kControls[i];
    HWND child = children[i];
    const LONG id = GetWindowLongA(child, GWL_ID);
    Check(id == e.id, "control %u has id %ld (expected %ld)", static_cast<unsigned>(i), id, e.id);
    const std::string className = ClassOf(child);
    Check(className == e.className, "control %u is a %s", static_cast<unsigned>(i),
          className.c_str());
    const DWORD childStyle = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    Check(childStyle == e.style, "control %u style 0x%08lx (expected 0x%08lx)",
          static_cast<unsigned>(i), childStyle, e.style);
    const RECT at = ClientRectOf(child, dialog);
    const RECT expected = units.Map(e.x, e.y, e.cx, e.cy);
    Check(SameRect(at, expected), "control %u at %s is %d,%d %dx%d units %s",
          static_cast<unsigned>(i), Describe(at).c_str(), e.x, e.y, e.cx, e.cy,
          Describe(expected).c_str());
    const std::string text = TextOf(child);
    Check(text == e.text, "control %u text \"%s\"", static_cast<unsigned>(i), text.c_str());
  }

  Sleep(300);  // let the frame finish painting
  Check(CaptionShowsIcon(dialog, exe), "the dialog's caption shows the program's icon");

  HWND ok = GetDlgItem(dialog, IDOK);
  HWND focus = nullptr;
  WaitFor([&] { return (focus = FocusOf(program.thread())) == ok; }, 5000);
  Check(ok != nullptr && focus == ok, "OK has the focus (focus is a %s with id %ld)",
        focus != nullptr ? ClassOf(focus).c_str() : "nothing",
        focus != nullptr ? GetWindowLongA(focus, GWL_ID) : 0L);
}

// Starts the program on `dir`, ends it with `end` and checks that it exited and that no file of
// `dir` changed.
template <typename End>
void CheckEndsUntouched(const char* how, const std::string& exe, const std::string& dir, End end,
                        const DialogUnits* units = nullptr,
                        const std::string& shotDir = std::string()) {
  const auto before = Snapshot(dir);
  Program program(exe, dir);
  if (!Check(program.started(), "%s: the program starts", how)) {
    return;
  }
  HWND dialog = WaitForDialog(program.pid(), kDialogCaption);
  if (!Check(dialog != nullptr, "%s: the dialog shows", how)) {
    return;
  }
  if (units != nullptr) {
    CheckLayout(dialog, program, *units, exe);
    Screenshot(shotDir, "win32-dialog", dialog);
  }
  program.WaitIdle();
  end(program, dialog);
  DWORD code = 0;
  const bool ended = program.WaitExit(code);
  Check(ended, "%s: the process ends (exit code %lu)", how, code);
  Check(Snapshot(dir) == before, "%s: no file was touched", how);
}

// The open dialog that OK brings up, once it shows.
// With `byEnter`, Enter is pressed on the focused control instead of clicking OK. Checks that
// the chooser starts with no file name and lists every file: no filter, no file types.
HWND OpenChooser(const Program& program, HWND dialog, bool byEnter = false) {
  if (byEnter) {
    HWND focus = FocusOf(program.thread());
    PressKey(focus != nullptr ? focus : dialog, VK_RETURN);
  } else {
    Press(GetDlgItem(dialog, IDOK));
  }
  HWND chooser = WaitForDialog(program.pid(), "Open", dialog);
  if (chooser != nullptr) {
    HWND box = GetDlgItem(chooser, kFileNameBox);
    HWND edit = box != nullptr ? FindDescendantOfClass(box, "Edit") : nullptr;
    Check(edit != nullptr && TextOf(edit).empty(), "the open dialog starts with no file name");
    HWND types = GetDlgItem(chooser, kFileTypeBox);
    Check(types == nullptr || SendMessageA(types, CB_GETCOUNT, 0, 0) <= 0,
          "the open dialog has no file type filter");
  }
  return chooser;
}

// Types `path` into the open dialog's file name box and presses Open.
bool ChooseFile(HWND chooser, const std::string& path) {
  HWND box = GetDlgItem(chooser, kFileNameBox);
  HWND edit = box != nullptr ? FindDescendantOfClass(box, "Edit") : nullptr;
  if (!Check(edit != nullptr, "the open dialog has its file name box")) {
    return false;
  }
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  Press(GetDlgItem(chooser, IDOK));
  return true;
}

// The system icon that `control` shows on the screen, found by comparing its pixels with the
// driver's own drawing of each candidate; null when none matches. Messages such as STM_GETICON
// give nothing usable across processes.
const char* IconShown(HWND control) {
  struct Candidate {
    const char* name;
    LPCSTR id;
  };
  const Candidate candidates[] = {{"information", IDI_INFORMATION},
                                  {"exclamation", IDI_EXCLAMATION},
                                  {"error", IDI_ERROR},
                                  {"question", IDI_QUESTION}};
  RECT r;
  GetWindowRect(control, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) {
    return nullptr;
  }
  HDC screen = GetDC(nullptr);
  HDC shown = CreateCompatibleDC(screen);
  HDC drawn = CreateCompatibleDC(screen);
  HBITMAP shownBits = CreateCompatibleBitmap(screen, w, h);
  HBITMAP drawnBits = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ oldShown = SelectObject(shown, shownBits);
  HGDIOBJ oldDrawn = SelectObject(drawn, drawnBits);
  BitBlt(shown, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  const COLORREF background = GetPixel(shown, 0, 0);

  const char* best = nullptr;
  int bestDiffering = w * h / 20;  // a match differs in fewer than 5% of the pixels
  for (const Candidate& candidate : candidates) {
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, w, h};
    FillRect(drawn, &all, brush);
    DeleteObject(brush);
    DrawIconEx(drawn, 0, 0, LoadIconA(nullptr, candidate.id), w, h, 0, nullptr, DI_NORMAL);
    int differing = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        differing += GetPixel(shown, x, y) != GetPixel(drawn, x, y) ? 1 : 0;
      }
    }
    if (differing < bestDiffering) {
      bestDiffering = differing;
      best = candidate.name;
    }
  }
  SelectObject(shown, oldShown);
  SelectObject(drawn, oldDrawn);
  DeleteObject(shownBits);
  DeleteObject(drawnBits);
  DeleteDC(shown);
  DeleteDC(drawn);
  ReleaseDC(nullptr, screen);
  return best;
}

// Waits for the message box that follows a choice, checks its caption and text, and presses OK.
// The system's text for `error` as a sentence of a message box: without its line break, with one
// full stop.
std::string SystemSentence(DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string sentence = text;
  while (!sentence.empty() && std::strchr(". \r\n", sentence.back()) != nullptr) {
    sentence.pop_back();
  }
  return sentence + ".";
}

void CheckNotice(const Program& program, HWND dialog, const char* caption, const std::string& text,
                 const char* icon, const std::string& shotDir = std::string(),
                 const char* shotName = nullptr) {
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(program.pid(), dialog)) != nullptr; });
  if (!Check(box != nullptr, "a message box shows")) {
    return;
  }
  char title[256] = "";
  GetWindowTextA(box, title, sizeof title);
  Check(std::strcmp(title, caption) == 0, "message box caption \"%s\" (expected \"%s\")", title,
        caption);
  const std::string shown = TextOf(GetDlgItem(box, kMessageText));
  Check(shown == text, "message box text \"%s\"", Show(shown).c_str());
  HWND iconControl = GetDlgItem(box, kMessageIcon);
  Sleep(300);  // let the box finish painting
  const char* shownIcon = iconControl != nullptr ? IconShown(iconControl) : nullptr;
  Check(shownIcon != nullptr && std::strcmp(shownIcon, icon) == 0,
        "message box shows the %s icon (found %s)", icon, shownIcon ? shownIcon : "none");
  Check(GetWindow(box, GW_OWNER) == dialog, "message box is owned by the dialog");
  Check(!IsWindowEnabled(dialog), "the dialog waits while the message box is open");
  if (shotName != nullptr) {
    Screenshot(shotDir, shotName, box);
  }
  Press(GetDlgItem(box, IDOK));
  Check(WaitFor([&] { return !IsWindow(box); }), "the message box closes on OK");
}

// The export of the conversion run and the records it must give.
constexpr char kExport[] =
    "LedgerExport\r\nScouts\r\nS-1001\t2013-03-14\tAlder\tMira\r\nAdults\r\n"
    "A-2001\t1978-05-21\tAlder\tJonah\t555-0142\tWA\t98101\tCommittee\tTreasurer\t"
    "14 Harbor Lane\tSeattle\tj@example.org\t2019-04-01\tyes\r\n";

std::string Record(std::initializer_list<std::pair<std::size_t, const char*>> fields) {
  std::string record(512, '\0');
  for (const auto& field : fields) {
    record.replace(field.first, std::strlen(field.second), field.second);
  }
  return record;
}

// Names in the driver's own code page (it has no manifest) as the wide names the system uses.
std::wstring Wide(const std::string& text, UINT codePage = CP_ACP) {
  const int n =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr,
                      nullptr);
  return text;
}

void RemoveOutputs(const std::wstring& dir) {
  for (const wchar_t* name : {L"PVERSION.DAT", L"CPERW.DAT", L"APERW.DAT"}) {
    DeleteFileW((dir + L"\\" + name).c_str());
  }
}

void CheckOutputs(const std::wstring& dir) {
  std::string bytes;
  bool read = ReadFileBytes(dir + L"\\PVERSION.DAT", bytes);
  Check(read && bytes == "KZV 2.0\r\nDRUV\r\n",
        "PVERSION.DAT holds the two version lines (%u bytes)", static_cast<unsigned>(bytes.size()));
  const std::string scout =
      Record({{0, "S-1001"}, {16, "2013-03-14"}, {28, "Alder"}, {56, "Mira"}});
  read = ReadFileBytes(dir + L"\\CPERW.DAT", bytes);
  Check(read && bytes == scout, "CPERW.DAT holds the scout's record (%u bytes)",
        static_cast<unsigned>(bytes.size()));
  // Field 12 at 178 overwrites field 11's window from its 13th byte on; the flag word is 1.
  const std::string adult = Record({{0, "A-2001"},
                                    {16, "1978-05-21"},
                                    {34, "Alder"},
                                    {62, "Jonah"},
                                    {90, "Committee"},
                                    {104, "Treasurer"},
                                    {118, "14 Harbor Lane"},
                                    {156, "Seattle"},
                                    {166, "j@example.or"},
                                    {178, "2019-04-01"},
                                    {212, "\x01"},
                                    {214, "555-0142"},
                                    {232, "WA"},
                                    {235, "98101"}});
  read = ReadFileBytes(dir + L"\\APERW.DAT", bytes);
  Check(read && bytes == adult, "APERW.DAT holds the adult's record (%u bytes)",
        static_cast<unsigned>(bytes.size()));
}

// OK in one run of the program: a cancelled chooser, an invalid export, a missing file and
// finally a valid export, after which the program ends.
void CheckConversions(const std::string& exe, const std::string& dir, const std::string& shotDir) {
  const std::string exportPath = dir + "\\Ledger.txt";
  const std::string badPath = dir + "\\Bad.txt";
  const std::string missingPath = dir + "\\Missing.txt";
  WriteFileBytes(exportPath, kExport);
  WriteFileBytes(badPath, "Ledger Export\r\nScouts\r\nS-1\r\n");
  WriteFileBytes(dir + "\\Members.csv", "not an export\r\n");  // listed too: there is no filter

  Program program(exe, dir);
  HWND dialog = WaitForDialog(program.pid(), kDialogCaption);
  if (!Check(dialog != nullptr, "conversions: the dialog shows")) {
    return;
  }

  const auto before = Snapshot(dir);
  HWND chooser = OpenChooser(program, dialog);
  if (!Check(chooser != nullptr, "OK opens the open dialog")) {
    return;
  }
  Check(GetWindow(chooser, GW_OWNER) == dialog && !IsWindowEnabled(dialog),
        "the open dialog is modal to the dialog");
  // A directory typed into the file name box opens it in the chooser, which lists every file.
  if (ChooseFile(chooser, dir)) {
    HWND list = nullptr;
    LRESULT listed = -1;
    const std::size_t files = Snapshot(dir).size();
    WaitFor(
        [&] {
          list = FindDescendantOfClass(chooser, "SysListView32");
          listed = list != nullptr ? SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) : -1;
          return listed == static_cast<LRESULT>(files);
        },
        5000);
    Check(IsWindow(chooser) && listed == static_cast<LRESULT>(files),
          "the open dialog lists all %u files of the directory (%ld listed)",
          static_cast<unsigned>(files), static_cast<long>(listed));
  }
  Press(GetDlgItem(chooser, IDCANCEL));
  Check(WaitFor([&] { return !IsWindow(chooser); }), "Cancel closes the open dialog");
  Sleep(300);
  Check(program.Running() && IsWindow(dialog) && IsWindowEnabled(dialog),
        "after a cancelled choice the dialog stays open");
  Check(Snapshot(dir) == before, "a cancelled choice writes nothing");

  chooser = OpenChooser(program, dialog);
  if (!Check(chooser != nullptr, "OK opens the open dialog again") ||
      !ChooseFile(chooser, badPath)) {
    return;
  }
  // The system's text, then the reason and the advice.
  CheckNotice(program, dialog, kNoticeCaption,
              std::string(kInvalidText) +
                  "\n\nLine 1 is not \"LedgerExport\". Please export it again from the web "
                  "program, and choose that file here without opening it in another program first.",
              "information", shotDir, "win32-message");
  Sleep(300);
  Check(program.Running() && IsWindow(dialog), "after an invalid export the dialog stays open");
  std::string version;
  Check(ReadFileBytes(dir + "\\PVERSION.DAT", version) && version.size() == 15,
        "an invalid export still leaves a version file");
  Check(!Exists(dir + "\\CPERW.DAT") && !Exists(dir + "\\APERW.DAT"),
        "an invalid export writes no record file");

  chooser = OpenChooser(program, dialog, true);
  if (!Check(chooser != nullptr, "Enter opens the open dialog for a missing file") ||
      !ChooseFile(chooser, missingPath)) {
    return;
  }
  CheckNotice(program, dialog, "Unable to open file",
              missingPath + "\n\n" + SystemSentence(ERROR_FILE_NOT_FOUND), "exclamation");
  Sleep(300);
  Check(program.Running() && IsWindow(dialog), "after a missing file the dialog stays open");

  chooser = OpenChooser(program, dialog);
  if (!Check(chooser != nullptr, "OK opens the open dialog for the export") ||
      !ChooseFile(chooser, exportPath)) {
    return;
  }
  CheckNotice(program, dialog, kNoticeCaption, kSuccessText, "information");
  DWORD code = 99;
  const bool ended = program.WaitExit(code);
  Check(ended && code == 0, "after a completed conversion the process ends (exit code %lu)", code);
  CheckOutputs(Wide(dir));
}

// Folders named outside the driver's and the system's usual ANSI code pages.
const wchar_t* const kForeignFolders[] = {L"\u0141\u00F3d\u017A", L"\u0152uvre"};

// A conversion chosen in the open dialog, of an export in a folder named "Łódź".
void CheckForeignFolderThroughTheDialog(const std::string& exe, const std::string& dir) {
  const std::wstring folder = Wide(dir) + L"\\" + kForeignFolders[0];
  CreateDirectoryW(folder.c_str(), nullptr);
  RemoveOutputs(folder);
  WriteFileBytes(folder + L"\\Ledger.txt", kExport);
  Program program(exe, dir);
  HWND dialog = WaitForDialog(program.pid(), kDialogCaption);
  if (!Check(dialog != nullptr, "\u0141\u00F3d\u017A through the dialog: the dialog shows")) {
    return;
  }
  HWND chooser = OpenChooser(program, dialog);
  HWND box = chooser != nullptr ? GetDlgItem(chooser, kFileNameBox) : nullptr;
  HWND edit = box != nullptr ? FindDescendantOfClass(box, "Edit") : nullptr;
  if (!Check(edit != nullptr, "the open dialog has its file name box")) {
    return;
  }
  const std::wstring path = folder + L"\\Ledger.txt";
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  Press(GetDlgItem(chooser, IDOK));
  CheckNotice(program, dialog, kNoticeCaption, kSuccessText, "information");
  DWORD code = 99;
  Check(program.WaitExit(code) && code == 0, "the program ends after the conversion");
  CheckOutputs(folder);
}

// Removes the folders that the checks of foreign names make in `dir`, with their files, so that
// a later run finds only the files the open dialog must list.
void RemoveForeignFolders(const std::string& dir) {
  const std::wstring work = Wide(dir);
  std::vector<std::wstring> folders = {work + L"\\slashed"};
  for (const wchar_t* name : kForeignFolders) {
    folders.push_back(work + L"\\" + name);
    folders.push_back(work + L"\\" + name + L" outputs");
  }
  for (const std::wstring& folder : folders) {
    RemoveOutputs(folder);
    DeleteFileW((folder + L"\\Ledger.txt").c_str());
    RemoveDirectoryW(folder.c_str());
  }
}

// What one run of the command gave.
struct CommandRun {
  bool finished = false;
  DWORD code = 0;
  std::string out, err;
};

// Runs the command with `argument` in `dir`, reading its standard output and error.
CommandRun RunCommand(const std::wstring& exe, const std::wstring& argument,
                      const std::wstring& dir) {
  CommandRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  CreatePipe(&outRead, &outWrite, &inherit, 1 << 16);
  CreatePipe(&errRead, &errWrite, &inherit, 1 << 16);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::wstring command = L"\"" + exe + L"\" \"" + argument + L"\"";
  PROCESS_INFORMATION info = {};
  const bool started = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, dir.c_str(), &startup, &info);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (started) {
    run.finished = WaitForSingleObject(info.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(info.hProcess, &run.code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (auto [pipe, text] : {std::pair{outRead, &run.out}, std::pair{errRead, &run.err}}) {
      char buffer[4096];
      DWORD n = 0;
      while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        text->append(buffer, n);
      }
      // The C library's text mode ends each printed line with CR LF.
      text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    }
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return run;
}

// The command on paths the ANSI code page cannot spell and on forward-slash paths: a conversion
// in "Łódź", and in both foreign folders an export named like each output, which must stop with
// "Unable to create file" and stay as it was.
void CheckCommand(const std::string& commandExe, const std::string& dir) {
  const std::wstring exe = Wide(commandExe);
  const std::wstring work = Wide(dir);
  const std::string success = std::string(kSuccessText) + "\n";

  const std::wstring lodz = work + L"\\" + kForeignFolders[0];
  CreateDirectoryW(lodz.c_str(), nullptr);
  RemoveOutputs(lodz);
  WriteFileBytes(lodz + L"\\Ledger.txt", kExport);
  CommandRun run = RunCommand(exe, lodz + L"\\Ledger.txt", work);
  Check(run.finished && run.code == 0 && run.out == success && run.err.empty(),
        "the command converts an export in \u0141\u00F3d\u017A (exit %lu, \"%s\")", run.code,
        Show(run.err).c_str());
  CheckOutputs(lodz);

  // Forward slashes, run from another directory: the files go beside the export, not there.
  const std::wstring slashed = work + L"\\slashed";
  CreateDirectoryW(slashed.c_str(), nullptr);
  RemoveOutputs(slashed);
  RemoveOutputs(work);
  WriteFileBytes(slashed + L"\\Ledger.txt", kExport);
  std::wstring forward = slashed + L"\\Ledger.txt";
  for (wchar_t& c : forward) {
    c = c == L'\\' ? L'/' : c;
  }
  run = RunCommand(exe, forward, work);
  Check(run.finished && run.code == 0 && run.out == success,
        "the command converts a forward-slash path (exit %lu, \"%s\")", run.code,
        Show(run.err).c_str());
  CheckOutputs(slashed);
  Check(!Exists(work + L"\\PVERSION.DAT") && !Exists(work + L"\\CPERW.DAT"),
        "nothing was written into the current directory");

  for (const wchar_t* name : kForeignFolders) {
    const std::wstring folder = work + L"\\" + name + L" outputs";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* output : {L"PVERSION.DAT", L"CPERW.DAT", L"APERW.DAT"}) {
      RemoveOutputs(folder);
      const std::wstring path = folder + L"\\" + output;
      WriteFileBytes(path, kExport);
      run = RunCommand(exe, path, work);
      std::string kept;
      ReadFileBytes(path, kept);
      const std::string expected = "ledger-convert: Unable to create file: " + Utf8(path) + "\n" +
                                   Utf8(path) + ": is the same file as " + Utf8(path) + "\n";
      Check(run.finished && run.code == 1 && run.err == expected && kept == kExport,
            "an export named %s in %s is refused and kept (exit %lu, \"%s\")", Utf8(output).c_str(),
            Utf8(name).c_str(), run.code, Show(run.err).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dialog_driver PROGRAM.exe WORK_DIR [SHOT_DIR]\n");
    return 2;
  }
  const std::string exe = DosPath(argv[1]);
  const std::string dir = DosPath(argv[2]);
  const std::string shotDir = argc > 3 ? DosPath(argv[3]) : std::string();
  CreateDirectoryA(dir.c_str(), nullptr);
  RemoveForeignFolders(dir);
  EmptyDirectory(dir);

  CheckResources(exe);

  const DialogUnits units;
  if (!Check(units.valid(), "the reference dialog for dialog units exists")) {
    return 1;
  }

  // An earlier run's files beside a valid export: ending the dialog must leave them as they are.
  WriteFileBytes(dir + "\\Ledger.txt", kExport);
  WriteFileBytes(dir + "\\PVERSION.DAT", "earlier run");
  CheckEndsUntouched(
      "Cancel", exe, dir, [](const Program&, HWND dialog) { Press(GetDlgItem(dialog, IDCANCEL)); },
      &units, shotDir);
  CheckEndsUntouched("Escape", exe, dir, [](const Program& program, HWND dialog) {
    HWND focus = FocusOf(program.thread());
    PressKey(focus != nullptr ? focus : dialog, VK_ESCAPE);
  });
  CheckEndsUntouched("close box", exe, dir, [](const Program&, HWND dialog) {
    Check(ClickCloseBox(dialog), "close box: the mouse is on the close box");
  });
  CheckEndsUntouched("Alt+F4", exe, dir, [](const Program& program, HWND dialog) {
    HWND focus = FocusOf(program.thread());
    PostMessageA(focus != nullptr ? focus : dialog, WM_SYSKEYDOWN, VK_F4, 1 | (1u << 29));
  });

  EmptyDirectory(dir);
  CheckConversions(exe, dir, shotDir);
  CheckForeignFolderThroughTheDialog(exe, dir);

  // The command, whose path the test's environment gives.
  const char* command = std::getenv("LEDGER_COMMAND_EXE");
  if (Check(command != nullptr, "LEDGER_COMMAND_EXE names the command")) {
    const std::string commandExe = DosPath(command);
    CheckManifest(commandExe);
    CheckVersionBlock(commandExe);
    CheckCommand(commandExe, dir);
  }
  RemoveForeignFolders(dir);

  return ledger::testing::Summary();
}
