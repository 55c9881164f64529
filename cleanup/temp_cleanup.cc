#include "cleanup/temp_cleanup.h"

#include <csignal>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace ledger {
namespace {

// The one list a handler empties: a handler takes no argument.
TempFileList* gTemps = nullptr;

#ifdef _WIN32
BOOL WINAPI RemoveTempsOnControl(DWORD) {
  if (gTemps != nullptr) {
    gTemps->RemoveAll();  // the open file goes once the process ends and closes it
  }
  return FALSE;  // the next handler, the system's, ends the process
}
#else
extern "C" void RemoveTempsAndDie(int signal) {
  if (gTemps != nullptr) {
    gTemps->RemoveAll();
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}
#endif

}  // namespace

void RemoveTempFilesOnInterrupt(TempFileList& temps) {
  gTemps = &temps;
#ifdef _WIN32
  SetConsoleCtrlHandler(RemoveTempsOnControl, TRUE);
#else
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (std::signal(signal, RemoveTempsAndDie) == SIG_IGN) {
      std::signal(signal, SIG_IGN);
    }
  }
#endif
}

}  // namespace ledger
