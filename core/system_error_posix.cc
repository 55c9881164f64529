#include <cerrno>
#include <cstring>

#include "core/system_error.h"

namespace ledger {

std::string SystemErrorText(int code) {
  return std::strerror(code);
}

int LastSystemError() {
  return errno;
}

}  // namespace ledger
