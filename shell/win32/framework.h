#ifndef LEDGER_SHELL_WIN32_FRAMEWORK_H_
#define LEDGER_SHELL_WIN32_FRAMEWORK_H_

// The little of an application framework that the dialog program needs, on the Win32 API: an
// application object whose InitInstance is the whole run, and a modal dialog class whose
// virtual handlers one dialog procedure dispatches to.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

class CDialog;

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Does the application's work; TRUE would ask for a message loop, which no caller runs.
  virtual BOOL InitInstance() = 0;

  // The icon resource `id` of this module at the system's icon size.
  HICON LoadIcon(UINT id) const;

  // The one application object of the process, or null before it is constructed.
  static CWinApp* Current();

  CDialog* m_pMainWnd = nullptr;  // the dialog that stands for the application while it runs
};

// The process's application object.
inline CWinApp* AfxGetApp() {
  return CWinApp::Current();
}

class CDialog {
 public:
  // A dialog on the template `templateId` of this module, owned by `parent` (may be null).
  explicit CDialog(UINT templateId, HWND parent = nullptr);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Shows the dialog and runs its modal loop; the code it ended with, or -1 when it could not be
  // created.
  INT_PTR DoModal();

  HWND GetSafeHwnd() const { return m_hWnd; }

 protected:
  // Called once the controls exist; TRUE lets the system focus the first tab stop.
  virtual BOOL OnInitDialog();
  // The OK button or Enter: ends the dialog with IDOK.
  virtual void OnOK();
  // Cancel, Escape, the close box or Alt+F4: ends the dialog with IDCANCEL.
  virtual void OnCancel();
  // Any other message; TRUE when handled, with the message's result in `result`.
  virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

  // Ends the modal loop with `code`.
  void EndDialog(INT_PTR code);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  // Places a dialog that its template puts at 0, 0 in the middle of its owner or the screen.
  void CenterIfUnplaced();

  UINT templateId_;
  HWND parent_;
};

// Begins painting a window on construction and ends it on destruction.
class CPaintDC {
 public:
  explicit CPaintDC(HWND hwnd) : hwnd_(hwnd) { hdc_ = BeginPaint(hwnd_, &paint_); }
  ~CPaintDC() { EndPaint(hwnd_, &paint_); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC GetSafeHdc() const { return hdc_; }

 private:
  HWND hwnd_;
  HDC hdc_;
  PAINTSTRUCT paint_;
};

#endif  // LEDGER_SHELL_WIN32_FRAMEWORK_H_
