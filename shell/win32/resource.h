#ifndef LEDGER_SHELL_WIN32_RESOURCE_H_
#define LEDGER_SHELL_WIN32_RESOURCE_H_

// Resource ids shared by the resource script and the program.
#define IDD_CONVERT_DIALOG 102
#define IDR_MAINFRAME 128

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif  // LEDGER_SHELL_WIN32_RESOURCE_H_
