#ifndef LEDGER_CORE_SYSTEM_ERROR_H_
#define LEDGER_CORE_SYSTEM_ERROR_H_

#include <string>

namespace ledger {

// The system's own text for its error `code` (errno, or GetLastError() on Windows), in the user's
// language where the process has taken it, without a closing full stop or line break.
std::string SystemErrorText(int code);

// The calling thread's last system error: errno, or GetLastError() on Windows.
int LastSystemError();

}  // namespace ledger

#endif  // LEDGER_CORE_SYSTEM_ERROR_H_
