#ifndef LEDGER_SHELL_WIN32_CONVERT_APP_H_
#define LEDGER_SHELL_WIN32_CONVERT_APP_H_

#include "shell/win32/framework.h"

#include <shellapi.h>

// The application: its one run shows the main dialog.
class CConvertApp : public CWinApp {
 public:
  // Runs the main dialog modally and returns FALSE, so that the process ends with it.
  BOOL InitInstance() override;
};

// The main dialog: the instructions with OK, which converts a chosen export, and Cancel.
class CConvertDlg : public CDialog {
 public:
  explicit CConvertDlg(HWND parent = nullptr);

 protected:
  // Gives the window the application's icons and accepts dropped files; the system then focuses
  // OK.
  BOOL OnInitDialog() override;
  // Lets the user choose the export, converts it, and ends the dialog once the run completed.
  void OnOK() override;
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  // Files dropped onto the dialog: converts one as OK would a chosen one, refuses several.
  void OnDropFiles(HDROP drop);
  // Draws the icon when the window is minimised; TRUE when it painted.
  BOOL OnPaint();
  // The image to drag while minimised.
  HCURSOR OnQueryDragIcon();

  HICON m_hIcon;
  HICON m_hSmallIcon;  // the icon at the system's small icon size, for the caption
};

#endif  // LEDGER_SHELL_WIN32_CONVERT_APP_H_
