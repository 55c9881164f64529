#include "shell/win32/convert_app.h"

#include <commctrl.h>

#include "shell/convert_command.h"
#include "shell/win32/resource.h"
#include "shell/win32/win32_shell.h"

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
}

BOOL CConvertDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return TRUE;
}

void CConvertDlg::OnOK() {
  ledger::OpenFileChooser chooser(m_hWnd);
  ledger::MessageBoxSink sink;
  if (ledger::RunConvertCommand(chooser, sink) == ledger::DialogNext::kClose) {
    CDialog::OnOK();
  }
}

BOOL CConvertDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_PAINT:
      return OnPaint();
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
