#include "core/version_file.h"

namespace ledger {

bool WriteVersionFile(std::FILE* stream) {
  if (std::fputs(kVersionLine1, stream) == EOF) {
    return false;
  }
  return std::fputs(kVersionLine2, stream) != EOF;
}

}  // namespace ledger
