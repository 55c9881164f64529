#include "shell/win32/convert_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "shell/convert_command.h"
#include "shell/win32/resource.h"
#include "shell/win32/win32_shell.h"

namespace {

// The temporary files of a run, removed when the session ends during one.
ledger::TempFileList gTemps;

// The dialog's commands, one at a time.
ledger::DialogCommands gCommands(&gTemps);

}  // namespace

BOOL CConvertApp::InitInstance() {
  // With the manifest's Common Controls 6, the controls take the system's visual style.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  CConvertDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

CConvertDlg::CConvertDlg(HWND parent) : CDialog(IDD_CONVERT_DIALOG, parent) {
  m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
  // The caption's icon is the image made for its size, not the large one scaled down.
  m_hSmallIcon = static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  if (m_hSmallIcon == nullptr) {
    m_hSmallIcon = m_hIcon;
  }
}

BOOL CConvertDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
  DragAcceptFiles(m_hWnd, TRUE);
  return TRUE;
}

void CConvertDlg::OnOK() {
  ledger::OpenFileChooser chooser(m_hWnd);
  ledger::MessageBoxSink sink;
  if (gCommands.Ok(chooser, sink) == ledger::DialogNext::kClose) {
    CDialog::OnOK();
  }
}

void CConvertDlg::OnDropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::vector<char> path(DragQueryFileA(drop, i, nullptr, 0) + 1, '\0');
    DragQueryFileA(drop, i, path.data(), static_cast<UINT>(path.size()));
    paths.emplace_back(path.data());
  }
  DragFinish(drop);
  // Owned by the dialog: a drop from another program leaves the dialog inactive.
  ledger::MessageBoxSink sink(m_hWnd);
  const ledger::DialogNext next = gCommands.Drop(paths, sink);
  if (next == ledger::DialogNext::kClose) {
    CDialog::OnOK();
  }
}

BOOL CConvertDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      result = 0;
      return TRUE;
    case WM_PAINT:
      return OnPaint();
    case WM_ENDSESSION:
      // Windows ends the process once this returns, even in the middle of a run.
      if (wParam != FALSE) {
        gTemps.RemoveAll();
      }
      result = 0;
      return TRUE;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CConvertDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) {
    return FALSE;
  }
  CPaintDC dc(m_hWnd);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(m_hWnd, &rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
  return TRUE;
}

HCURSOR CConvertDlg::OnQueryDragIcon() {
  return static_cast<HCURSOR>(m_hIcon);
}
