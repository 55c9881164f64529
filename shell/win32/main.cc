// LedgerConvert.exe: the dialog that converts a ledger export into the desktop program's files.

#include "shell/win32/convert_app.h"

namespace {

CConvertApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // No message loop follows the dialog: InitInstance's FALSE ends the process.
  theApp.InitInstance();
  return 0;
}
