#include "shell/win32/framework.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

CWinApp::CWinApp() {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) {
    g_app = nullptr;
  }
}

HICON CWinApp::LoadIcon(UINT id) const {
  return ::LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

CWinApp* CWinApp::Current() {
  return g_app;
}

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialog::DoModal() {
  HWND owner = parent_;
  CWinApp* app = AfxGetApp();
  if (owner == nullptr && app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd != this) {
    owner = app->m_pMainWnd->GetSafeHwnd();
  }
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                         &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
  return TRUE;
}

void CDialog::OnOK() {
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

BOOL CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) {
  return FALSE;
}

void CDialog::EndDialog(INT_PTR code) {
  ::EndDialog(m_hWnd, code);
}

void CDialog::CenterIfUnplaced() {
  RECT window;
  GetWindowRect(m_hWnd, &window);
  RECT area;
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  const POINT origin = {0, 0};
  POINT placed = origin;
  if (GetParent(m_hWnd) != nullptr) {
    ClientToScreen(GetParent(m_hWnd), &placed);
  }
  if (window.left != placed.x || window.top != placed.y) {
    return;  // the template or the dialog placed itself
  }
  const LONG width = window.right - window.left;
  const LONG height = window.bottom - window.top;
  LONG x = area.left + (area.right - area.left - width) / 2;
  LONG y = area.top + (area.bottom - area.top - height) / 2;
  x = x < area.left ? area.left : x;
  y = y < area.top ? area.top : y;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const BOOL focusFirst = OnInitDialog();
      CenterIfUnplaced();
      return focusFirst;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      break;
    default:
      break;
  }
  INT_PTR result = 0;
  if (OnMessage(message, wParam, lParam, result)) {
    return result;
  }
  return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_hWnd = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  }
  auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (dialog == nullptr) {
    return FALSE;  // messages that come before WM_INITDIALOG
  }
  // No exception may cross into the system's code: one that escapes a handler leaves the
  // message unhandled and the dialog as it was.
  try {
    const INT_PTR result = dialog->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrA(hwnd, DWLP_USER, 0);
      dialog->m_hWnd = nullptr;
    }
    return result;
  } catch (...) {
    return FALSE;
  }
}
